// A history that cannot be written: each way it fails is told in plain words, and the
// windows' writes give up within a moment.
#include "activity/activity_store.h"
#include "support/registry_sandbox.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {
namespace {

using test::TempDir;

FileOutcome Moved(const std::string& file) {
    FileOutcome o;
    o.TimeMs = 1000;
    o.Task = "Invoices";
    o.SourceFolder = "/in";
    o.DestinationFolder = "/out";
    o.File = file;
    return o;
}

template <class F> double Seconds(F body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The cause and message of what `body` raised; Other with "nothing raised" when it did not.
template <class F> std::pair<HistoryError::Cause, std::string> Raised(F body) {
    try {
        body();
    } catch (const HistoryError& e) {
        return {e.Why, e.message()};
    }
    return {HistoryError::Other, "nothing raised"};
}

void Sql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST(HistoryFailureTest, AHistoryHeldByAnotherProgramIsToldAndNeverWaitedOnLong) {
    TempDir dir;
    const std::string path = dir / "activity.sqlite3";
    ActivityStore store(path);
    const int64_t kept = store.RecordPass(1, 2, {Moved("a.pdf")});
    HiveHolder holder;
    std::string why;
    ASSERT_TRUE(holder.Hold(path, why)) << why;

    const std::string busy = "another program is using the history right now";
    // A pass waits a little for a copy finishing its own pass, then says so.
    std::pair<HistoryError::Cause, std::string> failed;
    EXPECT_LT(Seconds([&] { failed = Raised([&] { store.RecordPass(3, 4, {Moved("b")}); }); }),
              6.0);
    EXPECT_EQ(failed, std::make_pair(HistoryError::Busy, busy));
    // The window's writes give up at once, in the same words; its reads go on.
    for (auto write : {std::function<void()>([&] { store.Clear(); }),
                       std::function<void()>([&] { store.SetMovedBack(kept); })}) {
        EXPECT_LT(Seconds([&] { failed = Raised(write); }), 1.5);
        EXPECT_EQ(failed, std::make_pair(HistoryError::Busy, busy));
    }
    EXPECT_EQ(store.List({}).size(), 1u);

    holder.Release();
    EXPECT_GT(store.RecordPass(3, 4, {Moved("c.pdf")}), 0);
    EXPECT_TRUE(store.SetMovedBack(kept));
}

// As a user who may not write there: a folder that is read-only keeps the history from
// opening; a file that is read-only opens it for reading only, and every write says why.
TEST(HistoryFailureTest, AReadOnlyFolderOrFileIsToldAsSuch) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string closed = dir.MakeDir("closed"), open = dir.MakeDir("open");
    for (const std::string& folder : {closed, open})
        ActivityStore(folder + "/activity.sqlite3").RecordPass(1, 2, {Moved("a.pdf")});
    ASSERT_EQ(chmod(closed.c_str(), 0755), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    const ChildResult r = RunInChild([&] {
        std::string why;
        if (!DropPrivileges(why))
            return why;
        auto failed = Raised([&] { ActivityStore(closed + "/activity.sqlite3"); });
        const std::string readOnly = "the history may not be written: its folder ";
        if (failed.first != HistoryError::ReadOnly || failed.second.rfind(readOnly + closed, 0))
            return "read-only folder: " + failed.second;
        ActivityStore store(open + "/activity.sqlite3");
        if (store.List({}).size() != 1)
            return std::string("the read-only history cannot be read");
        for (auto write : {std::function<void()>([&] { store.RecordPass(3, 4, {Moved("b")}); }),
                           std::function<void()>([&] { store.Clear(); })}) {
            failed = Raised(write);
            if (failed.first != HistoryError::ReadOnly || failed.second.rfind(readOnly + open, 0))
                return "read-only file: " + failed.second;
        }
        return std::string();
    });
    EXPECT_TRUE(r.Ok()) << r.Output;
}

TEST(HistoryFailureTest, AFullDiskIsToldAsSuch) {
    TempDir dir;
    const std::string disk = dir.MakeDir("disk");
    if (geteuid() != 0 || mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "needs to mount a small file system";
    {
        ActivityStore store(disk + "/activity.sqlite3");
        EXPECT_GT(store.RecordPass(1, 2, {Moved("a.pdf")}), 0);
        const int fd = open((disk + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'x');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        close(fd);
        std::vector<FileOutcome> many(2000, Moved(std::string(100, 'n')));
        EXPECT_EQ(Raised([&] { store.RecordPass(3, 4, many); }),
                  std::make_pair(HistoryError::DiskFull,
                                 std::string("the disk that holds the history is full")));
    }
    EXPECT_EQ(umount2(disk.c_str(), MNT_DETACH), 0);
}

// A history kept before the change time was has the column added at its first open, and the
// entries it had read as "not known".
TEST(HistoryFailureTest, AnOlderHistoryGainsTheChangeTime) {
    TempDir dir;
    const std::string path = dir / "activity.sqlite3";
    FileOutcome old = Moved("old.pdf");
    old.CTimeNs = 5;
    ActivityStore(path).RecordPass(1, 2, {old});
    Sql(path, "ALTER TABLE outcome DROP COLUMN ctime_ns");
    ActivityStore store(path);
    FileOutcome fresh = Moved("new.pdf");
    fresh.CTimeNs = 1700000000123456789;
    store.RecordPass(3, 4, {fresh});
    const std::vector<ActivityEntry> entries = store.List({});
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Outcome.CTimeNs, fresh.CTimeNs);
    EXPECT_EQ(entries[1].Outcome.CTimeNs, 0);
}

} // namespace
} // namespace ferry
