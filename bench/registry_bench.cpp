// How long saving a full task table (253 tasks) takes, the way the main window saves it
// (SaveTaskTable: snapshot, existence test, one registry transaction), against its peer: the
// same values written straight into SQLite in one single transaction, in the same run, on the
// same disk. The two run as pairs, in alternating order so neither always goes first; the
// figure is the median of the pairs' ratios, with their spread. A third figure, the same values
// with one raw SQLite transaction per value, shows what committing every write would cost.
//
//   registry_bench [rounds]     (bench/save-vs-sqlite runs it)

#include "core/task_table.h"
#include "settings/settings_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace ferry;
using Clock = std::chrono::steady_clock;

namespace {

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

// The peer: the rows a save produces, in a table of the same shape, with the same journal and
// sync settings as the hives.
struct Peer {
    sqlite3* Db = nullptr;
    sqlite3_stmt* Key = nullptr;
    sqlite3_stmt* Value = nullptr;

    explicit Peer(const std::string& path) {
        Check(sqlite3_open(path.c_str(), &Db), Db, "open");
        Check(sqlite3_exec(Db,
                           "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;"
                           "CREATE TABLE IF NOT EXISTS k(id INTEGER PRIMARY KEY, name TEXT UNIQUE);"
                           "CREATE TABLE IF NOT EXISTS v(key INTEGER, name TEXT, type INTEGER,"
                           " data BLOB, UNIQUE(key, name));",
                           nullptr, nullptr, nullptr),
              Db, "schema");
        Check(sqlite3_prepare_v2(Db, "INSERT OR IGNORE INTO k(name) VALUES(?)", -1, &Key, nullptr),
              Db, "prepare");
        Check(sqlite3_prepare_v2(Db,
                                 "INSERT INTO v(key, name, type, data) VALUES("
                                 "(SELECT id FROM k WHERE name=?1),?2,?3,?4) ON CONFLICT(key, name)"
                                 " DO UPDATE SET type=excluded.type, data=excluded.data",
                                 -1, &Value, nullptr),
              Db, "prepare");
    }
    ~Peer() {
        sqlite3_finalize(Key);
        sqlite3_finalize(Value);
        sqlite3_close(Db);
    }
    void Exec(const char* sql) { Check(sqlite3_exec(Db, sql, nullptr, nullptr, nullptr), Db, sql); }
    void PutKey(const std::string& name) {
        sqlite3_bind_text(Key, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        Check(sqlite3_step(Key), Db, "key");
        sqlite3_reset(Key);
    }
    void Put(const std::string& key, const char* name, DWORD type, const std::string& data) {
        sqlite3_bind_text(Value, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(Value, 2, name, -1, SQLITE_STATIC);
        sqlite3_bind_int64(Value, 3, type);
        sqlite3_bind_blob(Value, 4, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        Check(sqlite3_step(Value), Db, "value");
        sqlite3_reset(Value);
    }
    // Everything a save writes; with perValue, every value in its own transaction.
    void Save(const TaskSnapshot& s, bool perValue) {
        auto begin = [&] {
            if (perValue)
                Exec("BEGIN IMMEDIATE");
        };
        auto commit = [&] {
            if (perValue)
                Exec("COMMIT");
        };
        if (!perValue)
            Exec("BEGIN IMMEDIATE");
        begin();
        PutKey(SettingsKey);
        Put(SettingsKey, "NumberOfEntries", REG_DWORD, std::string(4, '\0'));
        commit();
        for (int n = 1; n <= s.Count - 1; ++n) {
            std::string key = TaskEntryPath(n);
            size_t i = static_cast<size_t>(n - 1);
            const std::pair<const char*, const std::string*> values[] = {
                {"Identifier", &s.Identifier[i]},
                {"Source", &s.Source[i]},
                {"Destination", &s.Destination[i]},
                {"MatchString", &s.MatchString[i]}};
            begin();
            PutKey(key);
            commit();
            for (const auto& [name, text] : values) {
                begin();
                Put(key, name, REG_SZ, *text + '\0');
                commit();
            }
        }
        if (!perValue)
            Exec("COMMIT");
    }
};

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string dir = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    dir += "/ferry-bench-XXXXXX";
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("FERRYDESK_REGISTRY_DIR", dir.c_str(), 1);
    InitialiseDefaults();

    TaskTable table;
    for (int i = 0; i < MaxTaskEntries; ++i) {
        std::string n = std::to_string(i);
        table.AppendTask({"Task " + n, "/home/user/incoming/folder-" + n,
                          "/home/user/sorted/destination-" + n, "INVOICE-" + n});
    }
    TaskSnapshot snap = table.Snapshot();

    Peer single(dir + "/peer-single.db");
    Peer perValue(dir + "/peer-per-value.db");
    single.Save(snap, false); // first writes create the rows; measure the steady state
    perValue.Save(snap, true);
    TStartupLoad load;
    load.Completed = true;
    SaveTaskTable(table, load);

    std::vector<double> ours, one, each, ratios;
    for (int r = 0; r < rounds; ++r) {
        double o = 0, s = 0;
        auto timeOurs = [&] {
            auto t0 = Clock::now();
            SaveTaskTable(table, load);
            o = Millis(Clock::now() - t0);
        };
        auto timePeer = [&] {
            auto t0 = Clock::now();
            single.Save(snap, false);
            s = Millis(Clock::now() - t0);
        };
        if (r % 2 == 0) {
            timeOurs();
            timePeer();
        } else {
            timePeer();
            timeOurs();
        }
        auto t2 = Clock::now();
        perValue.Save(snap, true);
        each.push_back(Millis(Clock::now() - t2));
        ours.push_back(o);
        one.push_back(s);
        ratios.push_back(o / s);
    }
    std::vector<double> sorted = ratios;
    std::sort(sorted.begin(), sorted.end());
    auto at = [&](double q) { return sorted[static_cast<size_t>(q * (sorted.size() - 1) + 0.5)]; };
    std::printf("save of %d tasks (%d value writes), %d alternated pairs:\n", MaxTaskEntries,
                1 + 4 * MaxTaskEntries, rounds);
    std::printf("  SaveTaskTable (median)                %10.2f ms\n", Median(ours));
    std::printf("  SQLite, one transaction (median)      %10.2f ms\n", Median(one));
    std::printf("  SQLite, one transaction per value     %10.2f ms\n", Median(each));
    std::printf("ratio save / one transaction, per pair: median %.2f  (min %.2f, quartiles "
                "%.2f-%.2f, max %.2f)\n",
                Median(ratios), sorted.front(), at(0.25), at(0.75), sorted.back());
    // The headline, one line for scripts: the median ratio with its spread (max - min).
    std::printf("save/one-transaction: %.2f (spread %.2f, %d alternated pairs)\n", Median(ratios),
                sorted.back() - sorted.front(), rounds);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
