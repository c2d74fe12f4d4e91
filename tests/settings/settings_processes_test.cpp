// The store shared with other processes: the key deleted by hand, two copies of the program
// saving at once, a copy killed in the middle of a save, and a user without write rights.

#include "settings_helpers.h"

#include <csignal>
#include <cstdlib>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ferry {
namespace {

using namespace std::chrono_literals;

class SettingsProcessesTest : public RegistrySandboxTest {};

void Save(const TaskTable& t) {
    TaskSnapshot s = t.Snapshot();
    SaveTaskEntries(s.Count, s);
}

TaskTable TableOf(const std::string& prefix, int n) {
    TaskTable t;
    for (int i = 0; i < n; ++i)
        t.AppendTask(Task(prefix + "-" + std::to_string(i)));
    return t;
}

TEST_F(SettingsProcessesTest, KeyDeletedByHandMakesLaterActionsDoNothing) {
    InitialiseDefaults();
    TaskTable t = TableOf("a", 2);
    Save(t);
    TRegistryKey held; // an action in progress when the key goes
    ASSERT_TRUE(OpenSettingsKey(held));

    ByHand(Sandbox, {"delete", kToolKey, "/f"});
    EXPECT_FALSE(SettingsKeyExists());
    EXPECT_FALSE(WriteProcessInterval(3));
    EXPECT_FALSE(WriteOptionsSettings(TOptionsSettings(), "25", true));
    Save(t);
    TOptionsSettings o;
    EXPECT_FALSE(ReadOptions(o));
    EXPECT_FALSE(ReadNotificationSettings().has_value());
    EXPECT_FALSE(KeyExists(SettingsKey));

    // Writes through the handle that was open fail and bring nothing back, entries included.
    try {
        held.WriteInteger("ProcessInterval", 3);
        ADD_FAILURE() << "write on a deleted key succeeded";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.message(), "Failed to set data for 'ProcessInterval'");
        EXPECT_EQ(e.Code, ERROR_KEY_DELETED);
    }
    EXPECT_EQ(RegistryErrorOf([&] { WriteTaskEntry(held, 1, "x", "s", "m", "d"); }),
              "Failed to set data for 'Identifier'");
    EXPECT_EQ(RegistryErrorOf([&] { ReadTaskEntry(held, 1); }),
              std::string("Failed to get data for '") + TaskEntryPath(1) + "'");
    EXPECT_FALSE(KeyExists(SettingsKey));
    // Reads through it: text reads as empty where the settings allow that, but the task
    // load's strict read reports the failure instead of inventing an empty field.
    EXPECT_EQ(held.ReadString("SMTPServer"), "");
    EXPECT_EQ(RegistryErrorOf([&] { held.ReadStringStrict("SMTPServer"); }),
              "Failed to get data for 'SMTPServer'");
    EXPECT_EQ(RegistryErrorOf([&] { held.ReadInteger("SMTPPort"); }),
              "Failed to get data for 'SMTPPort'");
    held.CloseKey();

    // The next start creates the key afresh with its defaults.
    TStartupLoad s;
    TaskTable fresh;
    LoadStartupSettings(fresh, s);
    EXPECT_FALSE(s.KeyExisted);
    EXPECT_EQ(ValuesOf(SettingsKey).size(), 9u);
    EXPECT_EQ(fresh.RowCount(), 2);
}

TEST_F(SettingsProcessesTest, TwoCopiesSavingAtOnceLeaveASoundHive) {
    InitialiseDefaults();
    auto saver = [](std::string prefix, int tasks) {
        return [prefix, tasks] {
            TaskTable t = TableOf(prefix, tasks);
            auto end = std::chrono::steady_clock::now() + 1500ms;
            int saves = 0;
            while (std::chrono::steady_clock::now() < end) {
                try {
                    Save(t);
                    ++saves;
                } catch (const ERegistryException&) {
                    // A documented outcome (a write refused under contention); keep going.
                }
            }
            return saves > 0 ? std::string() : prefix + ": no save completed";
        };
    };
    ChildProcess a, b;
    a.Start(saver("a", 25));
    b.Start(saver("b", 40));
    ChildResult ra = a.Wait(30s), rb = b.Wait(30s);
    EXPECT_TRUE(ra.Ok()) << ra.Output << " signal " << ra.Signal
                         << (ra.TimedOut ? " timed out" : "");
    EXPECT_TRUE(rb.Ok()) << rb.Output << " signal " << rb.Signal
                         << (rb.TimedOut ? " timed out" : "");

    EXPECT_EQ(RegVerifyHive(HKEY_LOCAL_MACHINE), "ok");
    std::string out;
    EXPECT_EQ(Sandbox.RegTool({"verify"}, &out), 0) << out;
    TStartupLoad s;
    TaskTable t;
    LoadStartupSettings(t, s);
    EXPECT_TRUE(s.Completed);
    ASSERT_TRUE(s.NumberOfEntries == 25 || s.NumberOfEntries == 40) << s.NumberOfEntries;
    // The last writer wins, with its whole table: every entry is of the copy the count is of.
    const std::string prefix = s.NumberOfEntries == 25 ? "a-" : "b-";
    for (int n = 1; n <= s.NumberOfEntries; ++n)
        EXPECT_EQ(t.TaskAt(n), Task(prefix + std::to_string(n - 1))) << n;
}

// The table after one Delete Task on task 1 of a full table, and the table before it.
TaskTable FullTable(bool afterDelete) {
    TaskTable t;
    for (int i = afterDelete ? 1 : 0; i < MaxTaskEntries; ++i)
        t.AppendTask(Task("t" + std::to_string(i)));
    return t;
}

// Empty when the stored table is exactly `expected`, else what differs first.
std::string StoredTableDiffers(const TaskTable& expected) {
    TStartupLoad s;
    TaskTable t;
    try {
        LoadStartupSettings(t, s);
    } catch (const std::exception& e) {
        return std::string("load failed: ") + e.what();
    }
    if (s.NumberOfEntries != expected.LastTaskRow())
        return "count " + std::to_string(s.NumberOfEntries);
    for (int n = 1; n <= expected.LastTaskRow(); ++n)
        if (!(t.TaskAt(n) == expected.TaskAt(n)))
            return "entry " + std::to_string(n) + " is " + t.TaskAt(n).Identifier;
    return "";
}

// Delete Task on a full table, the program killed at a random instant of the save: a restart
// finds the whole old table or the whole new one. FERRY_SAVE_KILL_ROUNDS asks for more rounds.
TEST_F(SettingsProcessesTest, SaveKilledAtAnyInstantLeavesTheOldOrTheNewTable) {
    int rounds = 100;
    if (const char* env = std::getenv("FERRY_SAVE_KILL_ROUNDS"); env && std::atoi(env) > 0)
        rounds = std::atoi(env);
    InitialiseDefaults();
    const TaskTable tables[2] = {FullTable(false), FullTable(true)};
    Save(tables[0]);
    auto t0 = std::chrono::steady_clock::now();
    Save(tables[1]);
    Save(tables[0]);
    const auto saveTime = (std::chrono::steady_clock::now() - t0) / 2;
    std::mt19937 random(12345);
    int stored = 0, keptOld = 0, tookNew = 0;
    for (int round = 0; round < rounds; ++round) {
        const int next = 1 - stored;
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        ChildProcess c;
        c.Start([&] {
            close(go[0]);
            const char byte = 'g';
            if (write(go[1], &byte, 1) != 1)
                return std::string("no go");
            Save(tables[next]);
            return std::string();
        });
        close(go[1]);
        char byte = 0;
        ASSERT_EQ(read(go[0], &byte, 1), 1);
        close(go[0]);
        // Anywhere in the save, and now and then just after it.
        std::uniform_int_distribution<long> delay(
            0, std::chrono::duration_cast<std::chrono::microseconds>(saveTime * 13 / 10).count());
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        c.Kill(SIGKILL);
        ChildResult r = c.Wait(30s);
        ASSERT_TRUE(r.Signal == SIGKILL || r.Ok()) << "round " << round << ": " << r.Output;

        ASSERT_EQ(RegVerifyHive(HKEY_LOCAL_MACHINE), "ok") << "round " << round;
        if (StoredTableDiffers(tables[next]).empty()) {
            stored = next;
            ++tookNew;
        } else {
            ASSERT_EQ(StoredTableDiffers(tables[stored]), "")
                << "round " << round << ": neither the old nor the new table";
            ++keptOld;
        }
    }
    std::string out;
    EXPECT_EQ(Sandbox.RegTool({"verify"}, &out), 0) << out;
    // The kills did land inside saves (else this test proves nothing).
    EXPECT_GT(keptOld, 0) << tookNew << " saves completed";
    RecordProperty("kept_old", keptOld);
    RecordProperty("took_new", tookNew);
}

// Another program holds the hive past the 5-second wait: every action says so with its own
// error, none of them takes the store for a missing key, and nothing is written. A start that
// met the busy store loads it once it is free, the tasks added meanwhile after the stored ones.
TEST_F(SettingsProcessesTest, BusyStoreIsNeverTakenForAMissingKey) {
    InitialiseDefaults();
    Save(TableOf("stored", 3));
    ASSERT_TRUE(WriteProcessInterval(7));
    const auto before = ValuesOf(SettingsKey);

    HiveHolder holder;
    std::string why;
    ASSERT_TRUE(holder.Hold(Sandbox.HivePath(), why)) << why;

    // Each action in a process of its own, all at once, so the waits overlap.
    auto busyCode = [](auto action, const std::string& text) {
        return [action, text]() -> std::string {
            try {
                action();
            } catch (const ERegistryException& e) {
                if (e.message() != text)
                    return "\"" + e.message() + "\" instead of \"" + text + "\"";
                return e.Code == ERROR_BUSY ? "" : "code " + std::to_string(e.Code);
            }
            return "no error instead of \"" + text + "\"";
        };
    };
    ChildProcess save, set, apply, read, notify, start;
    save.Start(
        busyCode([] { Save(TableOf("lost", 1)); }, "Failed to set data for 'NumberOfEntries'"));
    set.Start(
        busyCode([] { WriteProcessInterval(3); }, "Failed to set data for 'ProcessInterval'"));
    apply.Start(busyCode([] { WriteOptionsSettings(TOptionsSettings(), "26", false); },
                         "Failed to set data for 'SMTPEnabled'"));
    read.Start(busyCode(
        [] {
            TOptionsSettings o;
            ReadOptions(o);
        },
        "Failed to get data for 'SMTPEnabled'"));
    notify.Start(
        busyCode([] { ReadNotificationSettings(); }, "Failed to get data for 'SMTPEnabled'"));
    // The start: busy, so nothing loaded and no defaults written; the user adds a task; tries
    // again until the store is free, then holds the stored tasks and the added one.
    start.Start([] {
        TaskTable t;
        TStartupLoad s;
        std::string e = RegistryErrorOf([&] { LoadStartupSettings(t, s); });
        if (e != "Failed to get data for 'ProcessInterval'" || !s.StoreUnavailable || s.Completed ||
            t.RowCount() != 2)
            return "busy start: " + e;
        t.AppendTask(Task("added"));
        if (SaveTaskTable(t, s))
            return std::string("saved before the load");
        int notKept = 0;
        for (int attempt = 0; attempt < 6; ++attempt) {
            try {
                if (!CompleteStartupLoad(t, s, notKept))
                    return std::string("load given up");
                break;
            } catch (const ERegistryException& busy) {
                if (!s.StoreUnavailable || s.Completed)
                    return std::string("busy retry changed the load state");
            }
        }
        if (!s.Completed)
            return std::string("never loaded");
        if (s.ProcessInterval != 7 || notKept != 0 || t.LastTaskRow() != 4)
            return "merged table has " + std::to_string(t.LastTaskRow()) + " tasks";
        if (!SaveTaskTable(t, s))
            return std::string("not saved after the load");
        return std::string();
    });
    for (ChildProcess* c : {&save, &set, &apply, &read, &notify}) {
        ChildResult r = c->Wait(30s);
        EXPECT_TRUE(r.Ok()) << r.Output;
    }
    EXPECT_EQ(ValuesOf(SettingsKey).size(), 0u) << "the holder lets nobody read";
    holder.Release();

    ChildResult r = start.Wait(60s);
    EXPECT_TRUE(r.Ok()) << r.Output;
    TaskTable expected = TableOf("stored", 3);
    expected.AppendTask(Task("added"));
    EXPECT_EQ(StoredTableDiffers(expected), "");
    // Nothing of the refused actions was written: all but the count is as it was.
    auto after = ValuesOf(SettingsKey);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[0], (StoredValue{"NumberOfEntries", REG_DWORD, Dword(4)}));
    for (size_t i = 1; i < before.size(); ++i)
        EXPECT_EQ(after[i], before[i]) << before[i].Name;
}

TEST_F(SettingsProcessesTest, CopyKilledMidSaveLeavesAHiveThatOpens) {
    InitialiseDefaults();
    for (int round = 0; round < 5; ++round) {
        ChildProcess c;
        c.Start([round] {
            TaskTable t = TableOf("r" + std::to_string(round), MaxTaskEntries);
            while (true)
                Save(t);
            return std::string();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(40 + 37 * round));
        c.Kill(SIGKILL);
        ChildResult r = c.Wait(10s);
        EXPECT_EQ(r.Signal, SIGKILL) << "round " << round << ": " << r.Output;

        EXPECT_EQ(RegVerifyHive(HKEY_LOCAL_MACHINE), "ok") << "round " << round;
        TStartupLoad s;
        TaskTable t;
        EXPECT_NO_THROW(LoadStartupSettings(t, s)) << "round " << round;
        EXPECT_TRUE(s.Completed);
        EXPECT_EQ(ValuesOf(SettingsKey).size(), 9u);
    }
}

// "The existence test succeeds, the open fails": a user who may read the machine-wide hive
// but not write it. Root ignores permissions, so the checks run as nobody in a child.
TEST_F(SettingsProcessesTest, ReadOnlyUserSeesTheKeyButCannotOpenIt) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    InitialiseDefaults();
    Save(TableOf("t", 2));
    ASSERT_EQ(chmod(Sandbox.Dir().c_str(), 0755), 0);
    ASSERT_EQ(chmod(Sandbox.HivePath().c_str(), 0644), 0);
    auto before = ValuesOf(SettingsKey);

    ChildResult r = RunInChild(
        [] {
            std::string why;
            if (!DropPrivileges(why))
                return "skip: " + why;
            std::string fails;
            auto expect = [&](bool ok, const std::string& what) {
                if (!ok)
                    fails += what + "; ";
            };
            expect(SettingsKeyExists(), "existence test failed");
            TRegistryKey k;
            expect(!OpenSettingsKey(k), "full-access open succeeded");
            expect(RegistryErrorOf([] { WriteProcessInterval(5); }) ==
                       "Failed to set data for 'ProcessInterval'",
                   "Set did not fail with the write error");
            TaskTable t = TableOf("x", 1);
            expect(RegistryErrorOf([&] { Save(t); }) == "Failed to set data for 'NumberOfEntries'",
                   "save did not fail with the write error");
            expect(RegistryErrorOf([] { ReadNotificationSettings(nullptr); }) ==
                       "Failed to get data for 'SMTPEnabled'",
                   "the notification's read did not fail with the read error");
            TStartupLoad s;
            TaskTable loaded;
            expect(RegistryErrorOf([&] { LoadStartupSettings(loaded, s); }) ==
                       "Failed to get data for 'ProcessInterval'",
                   "start did not fail with the read error");
            expect(!s.Completed, "failed start counted as complete");
            expect(k.OpenKeyReadOnly(SettingsRoot(), SettingsKey) &&
                       k.ReadInteger("ProcessInterval") == 10,
                   "read-only open cannot read");
            return fails;
        },
        30s);
    if (r.Output.rfind("skip:", 0) == 0)
        GTEST_SKIP() << r.Output;
    EXPECT_TRUE(r.Ok()) << r.Output;
    EXPECT_EQ(ValuesOf(SettingsKey), before);

    // A hive this user may not even read: the key is missing to it, so the start is a first
    // start without rights, whose first default fails; later actions do nothing.
    ASSERT_EQ(chmod(Sandbox.HivePath().c_str(), 0600), 0);
    ChildResult hidden = RunInChild(
        [] {
            std::string why;
            if (!DropPrivileges(why))
                return "skip: " + why;
            std::string fails;
            if (SettingsKeyExists())
                fails += "existence test succeeded; ";
            TStartupLoad s;
            TaskTable loaded;
            std::string e = RegistryErrorOf([&] { LoadStartupSettings(loaded, s); });
            if (e != "Failed to set data for 'NumberOfEntries'")
                fails += "start gave \"" + e + "\"; ";
            bool wrote = true;
            if (!RegistryErrorOf([&] { wrote = WriteProcessInterval(5); }).empty() || wrote)
                fails += "Set did not do nothing; ";
            if (!SaveTaskTable(loaded, s))
                fails += "save refused; ";
            return fails;
        },
        30s);
    ASSERT_EQ(chmod(Sandbox.HivePath().c_str(), 0644), 0);
    EXPECT_TRUE(hidden.Ok()) << hidden.Output;
    EXPECT_EQ(ValuesOf(SettingsKey), before);

    // The same user with the command-line tool, through setpriv.
    std::string setpriv = FindProgram("setpriv");
    if (setpriv.empty())
        GTEST_SKIP() << "setpriv is not installed";
    std::vector<std::string> asNobody = {setpriv, "--reuid=65534", "--regid=65534",
                                         "--clear-groups", RegToolPath()};
    auto run = [&](std::vector<std::string> args) {
        std::vector<std::string> argv = asNobody;
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, "", 30s);
    };
    ChildResult q = run({"query", kToolKey, "/v", "ProcessInterval"});
    if (q.Output.find("ermission denied") != std::string::npos)
        GTEST_SKIP() << "the tool is not reachable for nobody: " << q.Output;
    EXPECT_TRUE(q.Ok()) << q.Output;
    EXPECT_NE(q.Output.find("    ProcessInterval    REG_DWORD    0xa"), std::string::npos)
        << q.Output;
    ChildResult add =
        run({"add", kToolKey, "/v", "ProcessInterval", "/t", "REG_DWORD", "/d", "3", "/f"});
    EXPECT_EQ(add.ExitCode, 1) << add.Output;
    EXPECT_NE(add.Output.find("ERROR: Access is denied."), std::string::npos) << add.Output;
    EXPECT_EQ(ValuesOf(SettingsKey), before);
}

} // namespace
} // namespace ferry
