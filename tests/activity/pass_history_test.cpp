// A whole pass over several tasks, recorded: real folders, the real routing pass, the real
// store. The history keeps what happened and never changes how the pass ends.
#include "activity/pass_history.h"

#include "base/exception.h"
#include "core/engine.h"
#include "core/move_back.h"
#include "platform/system_errors.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

using test::TaskRun;
using test::TempDir;

namespace {

// One pass through the engine with the history attached, as the program runs it; returns
// what the history kept of it. `run` counts the move attempts.
RecordedPass Recorded(const std::vector<TaskRecord>& rows, ActivityStore* store, TaskRun& run) {
    PassHistory history(store);
    run.Pass(rows, true, &history);
    return history.LastPass();
}

} // namespace

TEST(PassHistoryTest, SummaryTexts) {
    auto outcome = [](const std::string& task, OutcomeKind kind) {
        FileOutcome o;
        o.Task = task;
        o.Kind = kind;
        return o;
    };
    using K = OutcomeKind;
    EXPECT_TRUE(Summarise({}).Empty());
    EXPECT_EQ(Summarise({}).Text(), "");
    const PassSummary s =
        Summarise({outcome("Invoices", K::Moved), outcome("Invoices", K::Moved),
                   outcome("Delivery notes", K::NameTaken), outcome("Invoices", K::Moved)});
    EXPECT_FALSE(s.Empty());
    EXPECT_EQ(s.Text(), "Invoices: 3 files moved; Delivery notes: 1 left (name taken)");
    EXPECT_EQ(Summarise({outcome("A", K::Moved)}).Text(), "A: 1 file moved");
    EXPECT_EQ(Summarise({outcome("A", K::InUse), outcome("A", K::DestinationMissing),
                         outcome("A", K::MoveFailed), outcome("A", K::Moved),
                         outcome("A", K::InUse), outcome("A", K::PassError)})
                  .Text(),
              "A: 1 file moved, 2 left (in use), 1 left (destination missing), "
              "1 left (move failed), error");
    EXPECT_EQ(Summarise({outcome("B", K::DestinationIsSource), outcome("B", K::NameTaken),
                         outcome("B", K::DestinationIsSource)})
                  .Text(),
              "B: 1 left (name taken), 2 left (destination is source)");
    EXPECT_FALSE(Summarise({outcome("B", K::DestinationIsSource)}).Empty());
    EXPECT_EQ(Summarise({outcome("B", K::PassError)}).Text(), "B: error");
    EXPECT_FALSE(Summarise({outcome("B", K::PassError)}).Empty());
}

TEST(PassHistoryTest, APassIsRecordedOnceWithItsTasksEvenWhenAnErrorEndsIt) {
    TempDir files, state;
    const std::string invoicesIn = files.MakeDir("invoices"), notesIn = files.MakeDir("notes"),
                      out = files.MakeDir("out"), laterIn = files.MakeDir("later");
    files.Write("invoices/1.pdf", "MATCH 1");
    files.Write("invoices/2.pdf", "MATCH 2");
    files.Write("notes/n.txt", "MATCH n");
    files.Write("later/l.txt", "MATCH l");
    const std::vector<TaskRecord> rows = {{"Invoices", invoicesIn, out, "MATCH"},
                                          {"Notes", notesIn, files / "missing", "MATCH"},
                                          {"Later", laterIn, out, "MATCH"}};
    ActivityStore store(state / "activity.sqlite3");
    TaskRun run;
    const RecordedPass recorded = Recorded(rows, &store, run);
    EXPECT_EQ(run.Moves, 3);
    EXPECT_GT(recorded.PassId, 0);
    EXPECT_LE(recorded.StartMs, recorded.EndMs);
    EXPECT_EQ(recorded.Summary.Text(),
              "Invoices: 2 files moved; Notes: 1 left (destination missing); Later: 1 file moved");
    std::vector<ActivityEntry> entries = store.List({});
    ASSERT_EQ(entries.size(), 4u);
    for (const ActivityEntry& e : entries)
        EXPECT_EQ(e.PassId, recorded.PassId); // one write for the whole pass
    EXPECT_EQ(entries[0].Outcome.Task, "Later");
    EXPECT_EQ(entries[1].Outcome.Task, "Notes");

    // The second pass ends at a locked file: what came before it is kept, with the error,
    // and the error is raised as the pass would raise it without a history.
    files.Write("invoices/3.pdf", "MATCH 3");
    files.Write("notes/locked.txt", "MATCH locked");
    files.Write("later/never.txt", "MATCH never");
    const int holder = open((files / "notes/locked.txt").c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    const std::vector<TaskRecord> fixed = {{"Invoices", invoicesIn, out, "MATCH"},
                                           {"Notes", notesIn, out, "MATCH"},
                                           {"Later", laterIn, out, "MATCH"}};
    int code = 0;
    PassHistory history(&store);
    try {
        run.Pass(fixed, true, &history);
    } catch (const EInOutError& e) {
        code = e.ErrorCode;
    }
    const RecordedPass second = history.LastPass();
    close(holder);
    EXPECT_EQ(code, ERROR_SHARING_VIOLATION);
    EXPECT_GT(second.PassId, recorded.PassId);
    const std::vector<ActivityEntry> ofSecond = store.List({});
    ASSERT_GE(ofSecond.size(), 2u);
    EXPECT_EQ(ofSecond[0].PassId, second.PassId);
    EXPECT_EQ(ofSecond[0].Outcome.Kind, OutcomeKind::PassError);
    EXPECT_EQ(ofSecond[0].Outcome.Task, "Notes");
    EXPECT_EQ(store.List({"Later", -1, 100}).size(), 1u); // the third task never ran
    EXPECT_TRUE(TempDir::Exists(files / "later/never.txt"));
    EXPECT_EQ(store.RecentPasses(10).size(), 2u);
}

TEST(PassHistoryTest, WithoutAWorkingHistoryThePassRunsAsEver) {
    TempDir files, state;
    const std::string in = files.MakeDir("in"), out = files.MakeDir("out");
    const std::vector<TaskRecord> rows = {{"T", in, out, "MATCH"}};
    TaskRun run;

    files.Write("in/a", "MATCH");
    RecordedPass recorded = Recorded(rows, nullptr, run);
    EXPECT_EQ(recorded.PassId, 0);
    EXPECT_EQ(recorded.Summary.Text(), "T: 1 file moved");
    EXPECT_EQ(files.Entries("out"), std::vector<std::string>{"a"});

    // A history damaged behind the program's back: the writes fail, the passes do not, and
    // the failure is told once, not on every pass.
    const std::string path = state / "activity.sqlite3";
    ActivityStore store(path);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "DROP TABLE outcome", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    testing::internal::CaptureStderr();
    for (const char* name : {"in/b", "in/c"}) {
        files.Write(name, "MATCH");
        EXPECT_NO_THROW(recorded = Recorded(rows, &store, run));
        EXPECT_EQ(recorded.PassId, 0);
        EXPECT_EQ(recorded.Summary.Text(), "T: 1 file moved");
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_LE(said.size(), said.find('\n') + 1) << said; // one line at most
    EXPECT_EQ(run.Moves, 3);
    EXPECT_EQ(files.Entries("out"), (std::vector<std::string>{"a", "b", "c"}));
}

// What the history keeps of a moved file is the file as its move left it, across file systems
// too (where the copy's mark comes off at the end of its batch): each can be moved back from
// there, and an edit made since, its modification time put back, cannot.
TEST(PassHistoryTest, EveryRecordedMoveCanBeMovedBackUntilTheFileIsEdited) {
    TempDir probe, state;
    const std::string other = TempDir::OtherFileSystemThan(probe.Path());
    ActivityStore store(state / "activity.sqlite3");
    for (const bool across : {false, true}) {
        if (across && other.empty())
            continue;
        SCOPED_TRACE(across ? "across file systems" : "one file system");
        TempDir in(across ? other : ""), out;
        for (const char* name : {"a", "b", "c"})
            in.Write(name, "MATCH");
        TaskRun run;
        const RecordedPass recorded =
            Recorded({{"T", in.Path(), out.Path(), "MATCH"}}, &store, run);
        ASSERT_GT(recorded.PassId, 0);
        std::vector<ActivityEntry> moved = store.List({"T", -1, 3});
        ASSERT_EQ(moved.size(), 3u);
        const int fd = open((out / moved[0].Outcome.File).c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, "m", 1, 0), 1);
        close(fd);
        const int64_t mtime = moved[0].Outcome.MTimeNs;
        const timespec back[2] = {{0, UTIME_OMIT}, {mtime / 1000000000, mtime % 1000000000}};
        ASSERT_EQ(utimensat(AT_FDCWD, (out / moved[0].Outcome.File).c_str(), back, 0), 0);
        EXPECT_EQ(MoveBack(moved[0].Outcome).Refusal, MoveBackRefusal::Changed);
        // An entry from before the change time was kept is known by the other marks only.
        FileOutcome older = moved[0].Outcome;
        older.CTimeNs = 0;
        EXPECT_EQ(MoveBack(older).Refusal, MoveBackRefusal::None);
        for (size_t i = 1; i < moved.size(); ++i) {
            const MoveBackResult r = MoveBack(moved[i].Outcome);
            EXPECT_EQ(r.Refusal, MoveBackRefusal::None) << r.Reason;
        }
        EXPECT_TRUE(out.Entries().empty());
    }
}

} // namespace ferry
