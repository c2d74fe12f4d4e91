#include "activity/activity_store.h"

#include "base/exception.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

namespace {

// 'FDAC' in the file header: a database of another kind at our path is refused, not altered.
constexpr int kApplicationId = 0x46444143;
constexpr int kSchemaVersion = 1;
// Two running copies finish a pass at about the same time now and then; one waits for the
// other's short transaction rather than losing its history. Longer than that, someone holds
// the database on purpose, and the pass says so instead of waiting on.
constexpr int kBusyTimeoutMs = 3000;
// What the windows' own writes wait at most, for the database and for a pass recording.
constexpr int kWindowWaitMs = 500;

// AUTOINCREMENT so that an id a window still shows after Clear never names a newer entry.
const char* const kSchema = R"sql(
CREATE TABLE pass(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    start_ms INTEGER NOT NULL,
    end_ms INTEGER NOT NULL);
CREATE TABLE outcome(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    pass INTEGER NOT NULL,
    time_ms INTEGER NOT NULL,
    task TEXT NOT NULL,
    source TEXT NOT NULL,
    destination TEXT NOT NULL,
    file TEXT NOT NULL,
    kind INTEGER NOT NULL,
    size INTEGER NOT NULL,
    error_code INTEGER NOT NULL,
    detail TEXT NOT NULL,
    device INTEGER NOT NULL,
    inode INTEGER NOT NULL,
    mtime_ns INTEGER NOT NULL,
    moved_back INTEGER NOT NULL DEFAULT 0,
    ctime_ns INTEGER NOT NULL DEFAULT 0);
CREATE INDEX outcome_pass ON outcome(pass);
CREATE TABLE preference(
    name TEXT PRIMARY KEY,
    value INTEGER NOT NULL);
)sql";

// The change time came later: a history from before it lacks the column, which is added
// when the history is first written by this version, and reads as 0 (not known) until then.
const char* const kOutcomeColumns =
    "id, pass, time_ms, task, source, destination, file, kind, size, error_code, detail, "
    "device, inode, mtime_ns, moved_back, ctime_ns";
const char* const kOutcomeColumnsWithoutCTime =
    "id, pass, time_ms, task, source, destination, file, kind, size, error_code, detail, "
    "device, inode, mtime_ns, moved_back, 0";

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the folders that are missing, private to the user: the history names the user's
// files and folders.
void MakeDirectories(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            throw HistoryError(HistoryError::Other, "'" + dir + "' is not a folder");
        return;
    }
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0)
        MakeDirectories(dir.substr(0, slash));
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw HistoryError(errno == ENOSPC || errno == EDQUOT ? HistoryError::DiskFull
                           : errno == EACCES || errno == EPERM || errno == EROFS
                               ? HistoryError::ReadOnly
                               : HistoryError::Other,
                           "the folder '" + dir + "' cannot be created: " + std::strerror(errno));
}

HistoryError NotAHistory(const std::string& path) {
    return HistoryError(HistoryError::Foreign,
                        "'" + path + "' is not a history of this program; it is left as it is");
}

HistoryError ReadOnlyHistory(const std::string& path) {
    return HistoryError(HistoryError::ReadOnly, "the history may not be written: its folder " +
                                                    DirectoryOf(path) +
                                                    " or its files are read-only");
}

// What a failed SQLite call means for the user, in plain words.
HistoryError Failure(sqlite3* db, const std::string& path) {
    const int rc = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return HistoryError(HistoryError::Busy, "another program is using the history right now");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
        return ReadOnlyHistory(path);
    case SQLITE_FULL:
        return HistoryError(HistoryError::DiskFull, "the disk that holds the history is full");
    case SQLITE_NOTADB:
        return NotAHistory(path);
    case SQLITE_CORRUPT:
        return HistoryError(HistoryError::Other, "the history '" + path + "' is damaged");
    case SQLITE_IOERR:
        return HistoryError(HistoryError::Other,
                            "the disk that holds the history could not be read or written");
    default:
        return HistoryError(HistoryError::Other, "the history '" + path + "' failed: " +
                                                     (db ? sqlite3_errmsg(db) : "out of memory"));
    }
}

// Finalises a statement however the operation using it ends.
class Statement {
public:
    Statement(sqlite3* db, const char* sql, const std::string& path) {
        if (sqlite3_prepare_v2(db, sql, -1, &S_, nullptr) != SQLITE_OK)
            throw Failure(db, path);
    }
    ~Statement() { sqlite3_finalize(S_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    operator sqlite3_stmt*() const { return S_; }

private:
    sqlite3_stmt* S_ = nullptr;
};

void BindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* s, int column) {
    const auto* text = sqlite3_column_text(s, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(s, column)))
                : std::string();
}

ActivityEntry ReadEntry(sqlite3_stmt* s) {
    ActivityEntry e;
    e.Id = sqlite3_column_int64(s, 0);
    e.PassId = sqlite3_column_int64(s, 1);
    FileOutcome& o = e.Outcome;
    o.TimeMs = sqlite3_column_int64(s, 2);
    o.Task = ColumnText(s, 3);
    o.SourceFolder = ColumnText(s, 4);
    o.DestinationFolder = ColumnText(s, 5);
    o.File = ColumnText(s, 6);
    o.Kind = static_cast<OutcomeKind>(sqlite3_column_int(s, 7));
    o.Size = sqlite3_column_int64(s, 8);
    o.ErrorCode = sqlite3_column_int(s, 9);
    o.Detail = ColumnText(s, 10);
    o.Device = static_cast<uint64_t>(sqlite3_column_int64(s, 11));
    o.Inode = static_cast<uint64_t>(sqlite3_column_int64(s, 12));
    o.MTimeNs = sqlite3_column_int64(s, 13);
    e.MovedBack = sqlite3_column_int(s, 14) != 0;
    o.CTimeNs = sqlite3_column_int64(s, 15);
    return e;
}

// One SQLite connection and the lock that keeps it to one thread at a time.
struct Connection {
    sqlite3* Db = nullptr;
    std::timed_mutex Lock;
    std::string Path;

    ~Connection() {
        if (Db)
            sqlite3_close_v2(Db);
    }

    [[noreturn]] void Fail() const { throw Failure(Db, Path); }

    void Open(const std::string& path) {
        Path = path;
        const int rc = sqlite3_open_v2(
            path.c_str(), &Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
            nullptr);
        if (rc != SQLITE_OK)
            Fail();
        sqlite3_busy_timeout(Db, kBusyTimeoutMs);
    }

    void Exec(const char* sql) {
        if (sqlite3_exec(Db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            Fail();
    }

    int64_t QueryInt(const char* sql) {
        Statement s(Db, sql, Path);
        if (sqlite3_step(s) != SQLITE_ROW)
            Fail();
        return sqlite3_column_int64(s, 0);
    }

    void Step(sqlite3_stmt* s) {
        if (sqlite3_step(s) != SQLITE_DONE)
            Fail();
        sqlite3_reset(s);
    }
};

// The lock of a connection the windows write through: a pass recording on it meanwhile, or
// another program holding the database, is waited for a short while only.
class WindowWrite {
public:
    explicit WindowWrite(Connection& c) : C_(c), Lock_(c.Lock, std::defer_lock) {
        if (!Lock_.try_lock_for(std::chrono::milliseconds(kWindowWaitMs)))
            throw HistoryError(HistoryError::Busy, "the history is being written right now");
        sqlite3_busy_timeout(C_.Db, kWindowWaitMs);
    }
    ~WindowWrite() { sqlite3_busy_timeout(C_.Db, kBusyTimeoutMs); }
    WindowWrite(const WindowWrite&) = delete;
    WindowWrite& operator=(const WindowWrite&) = delete;

private:
    Connection& C_;
    std::unique_lock<std::timed_mutex> Lock_;
};

// Runs a write transaction: rolled back when anything in it raises.
template <class F> void InTransaction(Connection& c, F body) {
    // IMMEDIATE takes the write lock at once, so a second copy waits here (busy timeout)
    // instead of failing half-way when its read lock cannot be upgraded.
    c.Exec("BEGIN IMMEDIATE");
    try {
        body();
        c.Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(c.Db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace

// Two connections: the writer for the pass thread's RecordPass and the windows' few writes,
// the reader for the windows' lists. In WAL mode a read never waits for a write, so a list
// is not held up by a pass recording (here or in another copy). Each is used under its own
// mutex.
struct ActivityStore::Impl {
    std::string Path;
    Connection Writer;
    mutable Connection Reader;
    // The columns a list reads: without the change time in a history not yet written by
    // this version.
    const char* Columns = kOutcomeColumns;
    // Set when the history could only be opened for reading: why it cannot be written.
    std::optional<HistoryError> ReadOnly;

    void NeedWritable() const {
        if (ReadOnly)
            throw *ReadOnly;
    }
};

std::string ActivityStore::DefaultPath() {
    std::string base;
    // Only an absolute XDG_STATE_HOME counts; a relative one is to be ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
        base = state;
    } else {
        std::string home;
        if (const char* h = std::getenv("HOME"); h && h[0])
            home = h;
        else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
            home = pw->pw_dir;
        base = home + "/.local/state";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/ferrydesk/activity.sqlite3";
}

ActivityStore::ActivityStore(std::string path) : Impl_(std::make_unique<Impl>()) {
    Impl_->Path = std::move(path);
    const std::string& p = Impl_->Path;
    MakeDirectories(DirectoryOf(p));

    Connection& w = Impl_->Writer;
    w.Open(p);
    // What the file is comes first: a database of another kind, or of a newer version, is
    // left exactly as it is found, in its journal mode too.
    enum { Empty, Current, Older } kind = Current;
    {
        w.Exec("BEGIN");
        try {
            const int64_t version = w.QueryInt("PRAGMA user_version");
            const int64_t id = w.QueryInt("PRAGMA application_id");
            if (version == 0 && id == 0) {
                if (w.QueryInt("SELECT count(*) FROM sqlite_master") != 0)
                    throw NotAHistory(p);
                kind = Empty;
            } else if (id != kApplicationId) {
                throw NotAHistory(p);
            } else if (version > kSchemaVersion) {
                throw HistoryError(HistoryError::Newer,
                                   "the history '" + p +
                                       "' was written by a newer version of the program");
            } else if (w.QueryInt("SELECT count(*) FROM pragma_table_info('outcome') WHERE "
                                  "name = 'ctime_ns'") == 0) {
                kind = Older;
            }
            w.Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(w.Db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    if (sqlite3_db_readonly(w.Db, "main") == 1) {
        // Kept for reading: the windows show what there is, and say why nothing is added.
        if (kind == Empty)
            throw ReadOnlyHistory(p);
        Impl_->ReadOnly.emplace(ReadOnlyHistory(p));
        if (kind == Older)
            Impl_->Columns = kOutcomeColumnsWithoutCTime;
    } else {
        // WAL: the history lives in the user's private state folder, so the shared-memory
        // file WAL needs can always be made there. NORMAL sync keeps the database whole on a
        // crash and at worst loses the last pass's lines, which is all a history can ask for.
        w.Exec("PRAGMA journal_mode=WAL");
        w.Exec("PRAGMA synchronous=NORMAL");
        if (kind != Current)
            InTransaction(w, [&] {
                // Looked at again under the write lock: another copy may have done it since.
                if (w.QueryInt("PRAGMA application_id") == 0) {
                    if (w.QueryInt("SELECT count(*) FROM sqlite_master") != 0)
                        throw NotAHistory(p);
                    w.Exec(kSchema);
                    w.Exec(("PRAGMA application_id=" + std::to_string(kApplicationId) +
                            "; PRAGMA user_version=" + std::to_string(kSchemaVersion))
                               .c_str());
                } else if (w.QueryInt("SELECT count(*) FROM pragma_table_info('outcome') WHERE "
                                      "name = 'ctime_ns'") == 0) {
                    w.Exec("ALTER TABLE outcome ADD COLUMN ctime_ns INTEGER NOT NULL DEFAULT 0");
                }
            });
    }

    Connection& r = Impl_->Reader;
    r.Open(p);
    r.Exec("PRAGMA query_only=1");
}

ActivityStore::~ActivityStore() = default;

const std::string& ActivityStore::Path() const {
    return Impl_->Path;
}

int64_t ActivityStore::RecordPass(int64_t startMs, int64_t endMs,
                                  const std::vector<FileOutcome>& outcomes) {
    if (outcomes.empty())
        return 0;
    Impl_->NeedWritable();
    Connection& w = Impl_->Writer;
    std::lock_guard lock(w.Lock);
    int64_t passId = 0;
    InTransaction(w, [&] {
        {
            Statement pass(w.Db, "INSERT INTO pass(start_ms, end_ms) VALUES(?, ?)", w.Path);
            sqlite3_bind_int64(pass, 1, startMs);
            sqlite3_bind_int64(pass, 2, endMs);
            w.Step(pass);
            passId = sqlite3_last_insert_rowid(w.Db);
        }
        Statement add(w.Db,
                      "INSERT INTO outcome(pass, time_ms, task, source, destination, file, kind, "
                      "size, error_code, detail, device, inode, mtime_ns, ctime_ns) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                      w.Path);
        // Of a pass larger than the bound only its newest outcomes could outlive the trim.
        const size_t first = outcomes.size() > static_cast<size_t>(kKeptOutcomes)
                                 ? outcomes.size() - static_cast<size_t>(kKeptOutcomes)
                                 : 0;
        for (size_t i = first; i < outcomes.size(); ++i) {
            const FileOutcome& o = outcomes[i];
            sqlite3_bind_int64(add, 1, passId);
            sqlite3_bind_int64(add, 2, o.TimeMs);
            BindText(add, 3, o.Task);
            BindText(add, 4, o.SourceFolder);
            BindText(add, 5, o.DestinationFolder);
            BindText(add, 6, o.File);
            sqlite3_bind_int(add, 7, static_cast<int>(o.Kind));
            sqlite3_bind_int64(add, 8, o.Size);
            sqlite3_bind_int(add, 9, o.ErrorCode);
            BindText(add, 10, o.Detail);
            sqlite3_bind_int64(add, 11, static_cast<int64_t>(o.Device));
            sqlite3_bind_int64(add, 12, static_cast<int64_t>(o.Inode));
            sqlite3_bind_int64(add, 13, o.MTimeNs);
            sqlite3_bind_int64(add, 14, o.CTimeNs);
            w.Step(add);
        }
        // The bound, kept in the same transaction. Transactions are serialised, so outcome
        // ids grow with pass ids even with two copies writing: a pass older than the oldest
        // remaining outcome's has nothing left.
        const std::string trim =
            "DELETE FROM outcome WHERE id <= (SELECT id FROM outcome ORDER BY id DESC LIMIT 1 "
            "OFFSET " +
            std::to_string(kKeptOutcomes) +
            "); DELETE FROM pass WHERE id < (SELECT pass FROM outcome ORDER BY id LIMIT 1)";
        w.Exec(trim.c_str());
    });
    return passId;
}

std::vector<ActivityEntry> ActivityStore::List(const ActivityFilter& filter) const {
    Connection& r = Impl_->Reader;
    std::lock_guard lock(r.Lock);
    const std::string sql = std::string("SELECT ") + Impl_->Columns +
                            " FROM outcome WHERE (?1 IS NULL OR task = ?1) AND "
                            "(?2 < 0 OR kind = ?2) AND (?4 = 0 OR moved_back = 1) "
                            "ORDER BY id DESC LIMIT ?3";
    Statement s(r.Db, sql.c_str(), r.Path);
    if (filter.Task.empty())
        sqlite3_bind_null(s, 1);
    else
        BindText(s, 1, filter.Task);
    sqlite3_bind_int(s, 2, filter.Kind);
    sqlite3_bind_int(s, 3, filter.Limit < 0 ? -1 : filter.Limit);
    sqlite3_bind_int(s, 4, filter.MovedBackOnly ? 1 : 0);
    std::vector<ActivityEntry> entries;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        entries.push_back(ReadEntry(s));
    if (rc != SQLITE_DONE)
        r.Fail();
    return entries;
}

std::vector<RecordedPass> ActivityStore::RecentPasses(int limit) const {
    Connection& r = Impl_->Reader;
    std::lock_guard lock(r.Lock);
    // One read transaction, so that the passes and their outcomes agree.
    r.Exec("BEGIN");
    std::vector<RecordedPass> passes;
    try {
        Statement s(r.Db, "SELECT id, start_ms, end_ms FROM pass ORDER BY id DESC LIMIT ?", r.Path);
        sqlite3_bind_int(s, 1, limit);
        Statement of(
            r.Db,
            (std::string("SELECT ") + Impl_->Columns + " FROM outcome WHERE pass = ? ORDER BY id")
                .c_str(),
            r.Path);
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            RecordedPass pass;
            pass.PassId = sqlite3_column_int64(s, 0);
            pass.StartMs = sqlite3_column_int64(s, 1);
            pass.EndMs = sqlite3_column_int64(s, 2);
            std::vector<FileOutcome> outcomes;
            sqlite3_bind_int64(of, 1, pass.PassId);
            int orc;
            while ((orc = sqlite3_step(of)) == SQLITE_ROW)
                outcomes.push_back(ReadEntry(of).Outcome);
            if (orc != SQLITE_DONE)
                r.Fail();
            sqlite3_reset(of);
            pass.Summary = Summarise(outcomes);
            passes.push_back(std::move(pass));
        }
        if (rc != SQLITE_DONE)
            r.Fail();
    } catch (...) {
        sqlite3_exec(r.Db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    r.Exec("COMMIT");
    return passes;
}

std::vector<std::string> ActivityStore::Tasks() const {
    Connection& r = Impl_->Reader;
    std::lock_guard lock(r.Lock);
    Statement s(r.Db, "SELECT DISTINCT task FROM outcome ORDER BY task", r.Path);
    std::vector<std::string> tasks;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        tasks.push_back(ColumnText(s, 0));
    if (rc != SQLITE_DONE)
        r.Fail();
    return tasks;
}

bool ActivityStore::SetMovedBack(int64_t id) {
    Impl_->NeedWritable();
    Connection& w = Impl_->Writer;
    WindowWrite lock(w);
    Statement s(w.Db, "UPDATE outcome SET moved_back = 1 WHERE id = ?", w.Path);
    sqlite3_bind_int64(s, 1, id);
    w.Step(s);
    return sqlite3_changes(w.Db) > 0;
}

void ActivityStore::Clear() {
    Impl_->NeedWritable();
    Connection& w = Impl_->Writer;
    WindowWrite lock(w);
    InTransaction(w, [&] { w.Exec("DELETE FROM outcome; DELETE FROM pass"); });
}

void ActivityStore::CarryDesktopNotifications(const std::function<void(bool on)>& keep) {
    Impl_->NeedWritable();
    Connection& w = Impl_->Writer;
    WindowWrite lock(w);
    InTransaction(w, [&] {
        Statement s(w.Db, "SELECT value FROM preference WHERE name = 'DesktopNotifications'",
                    w.Path);
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_DONE)
            return;
        if (rc != SQLITE_ROW)
            w.Fail();
        keep(sqlite3_column_int(s, 0) != 0);
        w.Exec("DELETE FROM preference");
    });
}

} // namespace ferry
