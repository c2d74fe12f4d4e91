// Move back after a real pass: it happens only while the file is the one the pass moved and
// its old name is free; otherwise nothing moves and the user is told why.
#include "core/move_back.h"

#include "core/engine.h"
#include "support/child_process.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

using test::ReadHolder;
using test::TempDir;

namespace {

// A pass that moves `name` (holding `content`) from `in` to `out`; its Moved outcome.
FileOutcome MoveOne(const TempDir& in, const TempDir& out, const std::string& name,
                    const std::string& content) {
    in.Write(name, content);
    test::TaskRun run;
    run.Pass(in.Path(), out.Path());
    EXPECT_EQ(run.Outcomes.size(), 1u);
    FileOutcome moved = run.Outcomes.at(0);
    EXPECT_EQ(moved.Kind, OutcomeKind::Moved);
    RefreshChangeTime(moved); // as the history keeps it
    return moved;
}

} // namespace

TEST(MoveBackTest, ReturnsTheUnchangedFileAndRefusesOtherwise) {
    TempDir in, out;
    const FileOutcome moved = MoveOne(in, out, "invoice.pdf", "MATCH 1");
    const MoveBackResult done = MoveBack(moved);
    EXPECT_EQ(done.Refusal, MoveBackRefusal::None);
    EXPECT_TRUE(done.Reason.empty());
    EXPECT_EQ(TempDir::Read(in / "invoice.pdf"), "MATCH 1");
    EXPECT_TRUE(out.Entries().empty());

    // Twice: the file is gone from the destination by then.
    const MoveBackResult again = MoveBack(moved);
    EXPECT_EQ(again.Refusal, MoveBackRefusal::Gone);
    EXPECT_EQ(again.Reason, "invoice.pdf is no longer in " + out.Path() +
                                ", so it cannot be moved back. It was moved, renamed or deleted "
                                "since the pass moved it there.");
    EXPECT_EQ(TempDir::Read(in / "invoice.pdf"), "MATCH 1");
}

TEST(MoveBackTest, AChangedOrReplacedFileStays) {
    TempDir in, out;
    // Written to since the move: the size and time differ.
    const FileOutcome grown = MoveOne(in, out, "log.txt", "MATCH log");
    {
        const int fd = open((out / "log.txt").c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "more", 4), 4);
        close(fd);
    }
    MoveBackResult r = MoveBack(grown);
    EXPECT_EQ(r.Refusal, MoveBackRefusal::Changed);
    EXPECT_EQ(r.Reason, "log.txt in " + out.Path() +
                            " has changed since it was moved, so it stays there. If you still "
                            "want it in " +
                            in.Path() + ", move it there yourself.");
    EXPECT_EQ(TempDir::Read(out / "log.txt"), "MATCH logmore");

    // Another file of the same name, size and time put in its place: not the same file.
    const FileOutcome replaced = MoveOne(in, out, "same.txt", "MATCH same");
    struct stat st;
    ASSERT_EQ(stat((out / "same.txt").c_str(), &st), 0);
    // Made while the moved file still exists, so it cannot be given its inode number.
    out.Write("same.tmp", "MATCH same");
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, (out / "same.tmp").c_str(), times, 0), 0);
    ASSERT_EQ(rename((out / "same.tmp").c_str(), (out / "same.txt").c_str()), 0);
    r = MoveBack(replaced);
    EXPECT_EQ(r.Refusal, MoveBackRefusal::Changed);
    EXPECT_TRUE(TempDir::Exists(out / "same.txt"));
    EXPECT_FALSE(TempDir::Exists(in / "same.txt"));

    // Only the time touched: changed too.
    const FileOutcome touched = MoveOne(in, out, "touched.txt", "MATCH t");
    const timespec later[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec + 100, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (out / "touched.txt").c_str(), later, 0), 0);
    EXPECT_EQ(MoveBack(touched).Refusal, MoveBackRefusal::Changed);
}

TEST(MoveBackTest, ATakenNameAMissingFolderOrAFileInUseMovesNothing) {
    TempDir in, out;
    const FileOutcome moved = MoveOne(in, out, "a.txt", "MATCH a");
    in.Write("a.txt", "a new file of the same name");
    MoveBackResult r = MoveBack(moved);
    EXPECT_EQ(r.Refusal, MoveBackRefusal::NameTaken);
    EXPECT_EQ(r.Reason, "A file named a.txt is already in " + in.Path() + ", so a.txt stays in " +
                            out.Path() + ". Rename or move one of them, then try again.");
    EXPECT_EQ(TempDir::Read(in / "a.txt"), "a new file of the same name");
    EXPECT_EQ(TempDir::Read(out / "a.txt"), "MATCH a");

    TempDir parent;
    const std::string source = parent.MakeDir("src");
    FileOutcome gone = moved;
    gone.SourceFolder = source;
    ASSERT_EQ(rmdir(source.c_str()), 0);
    r = MoveBack(gone);
    EXPECT_EQ(r.Refusal, MoveBackRefusal::SourceFolderMissing);
    EXPECT_EQ(r.Reason, "The folder " + source + " no longer exists, so a.txt stays in " +
                            out.Path() + ". Create the folder again, then try again.");
    EXPECT_TRUE(TempDir::Exists(out / "a.txt"));

    // Another program has it open at the destination.
    ASSERT_EQ(unlink((in / "a.txt").c_str()), 0);
    ReadHolder holder(out / "a.txt");
    ASSERT_TRUE(holder.Ready());
    r = MoveBack(moved);
    EXPECT_EQ(r.Refusal, MoveBackRefusal::InUse);
    EXPECT_EQ(r.Reason, "a.txt is open in another program, so it stays in " + out.Path() +
                            ". Close it there, then try again.");
    EXPECT_EQ(holder.Release(), 0);
    EXPECT_TRUE(TempDir::Exists(out / "a.txt"));
    EXPECT_EQ(MoveBack(moved).Refusal, MoveBackRefusal::None); // once let go
    EXPECT_EQ(TempDir::Read(in / "a.txt"), "MATCH a");
}

} // namespace ferry
