#include "activity/activity_store.h"

#include "base/exception.h"
#include "support/child_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sys/stat.h>

namespace ferry {

using test::ChildProcess;
using test::TempDir;

namespace {

FileOutcome Outcome(const std::string& task, const std::string& file, OutcomeKind kind,
                    int64_t time = 1000) {
    FileOutcome o;
    o.TimeMs = time;
    o.Task = task;
    o.SourceFolder = "/in/" + task;
    o.DestinationFolder = "/out/" + task;
    o.File = file;
    o.Kind = kind;
    return o;
}

} // namespace

TEST(ActivityStoreTest, KeepsEveryFieldAcrossReopeningAndFilters) {
    TempDir dir;
    const std::string path = dir / "state/ferrydesk/activity.sqlite3";
    FileOutcome moved = Outcome("Invoices", "a\xE9.pdf", OutcomeKind::Moved, 1700000000123);
    moved.Size = 5000000000;
    moved.Device = 0xFFFFFFFFFFFFFFF0ull; // beyond int64: must come back unchanged
    moved.Inode = 123456789012345ull;
    moved.MTimeNs = 1700000000123456789;
    FileOutcome error = Outcome("Notes", "b.txt", OutcomeKind::PassError);
    error.ErrorCode = 32;
    error.Detail = "I/O error 32.";
    int64_t first = 0;
    {
        ActivityStore store(path);
        EXPECT_EQ(store.Path(), path);
        EXPECT_EQ(store.RecordPass(1, 2, {}), 0); // a pass with nothing to tell is not kept
        first = store.RecordPass(10, 20, {moved, Outcome("Notes", "c.txt", OutcomeKind::InUse)});
        EXPECT_GT(first, 0);
        EXPECT_GT(store.RecordPass(30, 40, {error}), first);
    }
    struct stat st;
    ASSERT_EQ(stat((dir / "state/ferrydesk").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ActivityStore store(path);
    const std::vector<ActivityEntry> all = store.List({});
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Outcome.Detail, "I/O error 32."); // newest first
    EXPECT_EQ(all[0].Outcome.ErrorCode, 32);
    EXPECT_EQ(all[1].Outcome.File, "c.txt");
    const FileOutcome& back = all[2].Outcome;
    EXPECT_EQ(all[2].PassId, first);
    EXPECT_EQ(back.File, "a\xE9.pdf");
    EXPECT_EQ(back.TimeMs, moved.TimeMs);
    EXPECT_EQ(back.SourceFolder, "/in/Invoices");
    EXPECT_EQ(back.DestinationFolder, "/out/Invoices");
    EXPECT_EQ(back.Size, moved.Size);
    EXPECT_EQ(back.Device, moved.Device);
    EXPECT_EQ(back.Inode, moved.Inode);
    EXPECT_EQ(back.MTimeNs, moved.MTimeNs);
    EXPECT_FALSE(all[2].MovedBack);

    EXPECT_EQ(store.List({"Notes", -1, 100}).size(), 2u);
    EXPECT_EQ(store.List({"Notes", static_cast<int>(OutcomeKind::InUse), 100}).size(), 1u);
    EXPECT_EQ(store.List({"", static_cast<int>(OutcomeKind::Moved), 100}).size(), 1u);
    EXPECT_EQ(store.List({"", -1, 1}).size(), 1u);
    EXPECT_EQ(store.Tasks(), (std::vector<std::string>{"Invoices", "Notes"}));

    const std::vector<RecordedPass> passes = store.RecentPasses(10);
    ASSERT_EQ(passes.size(), 2u);
    EXPECT_EQ(passes[1].StartMs, 10);
    EXPECT_EQ(passes[1].EndMs, 20);
    EXPECT_EQ(passes[1].Summary.Text(), "Invoices: 1 file moved; Notes: 1 left (in use)");
    EXPECT_EQ(passes[0].Summary.Text(), "Notes: error");

    EXPECT_TRUE(store.SetMovedBack(all[2].Id));
    EXPECT_FALSE(store.SetMovedBack(all[2].Id + 100));
    EXPECT_TRUE(store.List({"Invoices", -1, 10})[0].MovedBack);

    store.Clear();
    EXPECT_TRUE(store.List({}).empty());
    EXPECT_TRUE(store.RecentPasses(10).empty());
    EXPECT_TRUE(store.Tasks().empty());
    // Ids are never handed out again: an entry a window still shows cannot name a new one.
    store.RecordPass(50, 60, {Outcome("Invoices", "d.pdf", OutcomeKind::Moved)});
    EXPECT_GT(store.List({})[0].Id, all[0].Id);
}

TEST(ActivityStoreTest, KeepsOnlyTheNewestOutcomes) {
    TempDir dir;
    ActivityStore store(dir / "activity.sqlite3");
    const int bound = ActivityStore::kKeptOutcomes;
    // One pass larger than the bound, then small ones pushing the rest out.
    std::vector<FileOutcome> big;
    for (int i = 0; i < bound + 500; ++i)
        big.push_back(Outcome("Big", "f" + std::to_string(i), OutcomeKind::Moved));
    store.RecordPass(1, 2, big);
    std::vector<ActivityEntry> kept = store.List({"", -1, -1});
    ASSERT_EQ(kept.size(), static_cast<size_t>(bound));
    EXPECT_EQ(kept.front().Outcome.File, "f" + std::to_string(bound + 499));
    EXPECT_EQ(kept.back().Outcome.File, "f500");

    for (int pass = 0; pass < 3; ++pass) {
        std::vector<FileOutcome> small;
        for (int i = 0; i < 4000; ++i)
            small.push_back(Outcome("Small", std::to_string(pass) + "-" + std::to_string(i),
                                    OutcomeKind::NameTaken));
        store.RecordPass(10 + pass, 11 + pass, small);
    }
    kept = store.List({"", -1, -1});
    ASSERT_EQ(kept.size(), static_cast<size_t>(bound));
    EXPECT_EQ(kept.back().Outcome.File, "0-2000");
    // The big pass has gone with its last outcome; the three small ones remain.
    EXPECT_EQ(store.RecentPasses(10).size(), 3u);
    EXPECT_EQ(store.Tasks(), std::vector<std::string>{"Small"});
}

TEST(ActivityStoreTest, RefusesADatabaseThatIsNotAHistory) {
    TempDir dir;
    const std::string notSqlite = dir.Write("junk.sqlite3", std::string(4096, 'x'));
    EXPECT_THROW(ActivityStore{notSqlite}, Exception);
    const std::string blocked = dir.Write("file", "");
    EXPECT_THROW(ActivityStore{blocked + "/activity.sqlite3"}, Exception);
}

TEST(ActivityStoreTest, DefaultPathFollowsXdgStateHome) {
    {
        test::ScopedEnv state("XDG_STATE_HOME", "/x/state/");
        EXPECT_EQ(ActivityStore::DefaultPath(), "/x/state/ferrydesk/activity.sqlite3");
    }
    test::ScopedEnv state("XDG_STATE_HOME", "relative"); // not absolute: ignored
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (!home.empty()) {
        EXPECT_EQ(ActivityStore::DefaultPath(), home + "/.local/state/ferrydesk/activity.sqlite3");
    }
}

// Two running copies finishing passes at the same moments: every outcome of both is kept.
TEST(ActivityStoreTest, TwoProcessesRecordingAtOnceLoseNothing) {
    TempDir dir;
    const std::string path = dir / "activity.sqlite3";
    constexpr int kPasses = 40, kPerPass = 25;
    auto writer = [&](const std::string& task) {
        return [path, task](ChildProcess& self) {
            try {
                ActivityStore store(path);
                self.Send(1);
                uint64_t go = 0;
                if (!self.Receive(go, 10000))
                    return 2;
                for (int p = 0; p < kPasses; ++p) {
                    std::vector<FileOutcome> outcomes;
                    for (int i = 0; i < kPerPass; ++i)
                        outcomes.push_back(
                            Outcome(task, std::to_string(p * kPerPass + i), OutcomeKind::Moved));
                    if (store.RecordPass(p, p + 1, outcomes) <= 0)
                        return 3;
                }
                return 0;
            } catch (const std::exception&) {
                return 1;
            }
        };
    };
    ChildProcess one(writer("One"));
    ChildProcess two(writer("Two"));
    uint64_t ready = 0;
    ASSERT_TRUE(one.Receive(ready, 10000));
    ASSERT_TRUE(two.Receive(ready, 10000));
    ActivityStore reader(path);
    one.Send(1);
    two.Send(1);
    // This process reads while the other two write: lists never fail half-way.
    for (int i = 0; i < 20; ++i)
        EXPECT_NO_THROW(reader.List({}));
    EXPECT_EQ(one.Wait(60000), 0);
    EXPECT_EQ(two.Wait(60000), 0);

    for (const char* task : {"One", "Two"}) {
        const std::vector<ActivityEntry> entries = reader.List({task, -1, -1});
        std::set<std::string> files;
        for (const ActivityEntry& e : entries)
            files.insert(e.Outcome.File);
        EXPECT_EQ(files.size(), static_cast<size_t>(kPasses * kPerPass)) << task;
    }
    EXPECT_EQ(reader.RecentPasses(1000).size(), static_cast<size_t>(2 * kPasses));
}

} // namespace ferry
