#include "platform/file_move.h"

#include "platform/files.h"
#include "platform/system_errors.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

using test::TempDir;

namespace {

// Installs a seam for the length of one scope.
class SeamScope {
public:
    explicit SeamScope(MoveSeam seam) : Seam(std::move(seam)) { SetMoveSeamForTesting(&Seam); }
    ~SeamScope() { SetMoveSeamForTesting(nullptr); }
    MoveSeam Seam;
};

std::string Content(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + i / 97) % 26);
    return text;
}

// Moves a read-only file with a past modification time into `to`, and checks that it
// arrives whole with its mode and time, and leaves nothing else behind.
void ExpectWholeMove(const TempDir& from, const TempDir& to) {
    const std::string body = Content(300000);
    const std::string src = from.Write("doc.txt", body);
    chmod(src.c_str(), 0444);
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, src.c_str(), times, 0);

    int error = -1;
    ASSERT_TRUE(MoveFileChecked(src, to / "doc.txt", &error) == MoveOutcome::Moved);
    EXPECT_EQ(error, ERROR_SUCCESS);
    EXPECT_FALSE(TempDir::Exists(src));
    EXPECT_EQ(TempDir::Read(to / "doc.txt"), body);
    struct stat st;
    ASSERT_EQ(stat((to / "doc.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(to.Entries(), std::vector<std::string>{"doc.txt"});
    EXPECT_TRUE(from.Entries().empty());
}

// A move onto a name that is taken fails and changes neither file.
void ExpectNoReplace(const TempDir& from, const TempDir& to) {
    const std::string src = from.Write("same.txt", "new");
    to.Write("same.txt", "old");
    const auto before = to.Entries();
    int error = 0;
    EXPECT_FALSE(MoveFileChecked(src, to / "same.txt", &error) == MoveOutcome::Moved);
    EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(TempDir::Read(src), "new");
    EXPECT_EQ(TempDir::Read(to / "same.txt"), "old");
    EXPECT_EQ(to.Entries(), before);
}

} // namespace

TEST(FileMoveTest, SameFileSystem) {
    TempDir from, to;
    ExpectWholeMove(from, to);
    ExpectNoReplace(from, to);

    int error = 0;
    EXPECT_FALSE(MoveFileChecked(from / "missing", to / "x", &error) == MoveOutcome::Moved);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    const std::string src = from.Write("a.txt", "a");
    EXPECT_FALSE(MoveFileChecked(src, to / "nofolder/a.txt", &error) == MoveOutcome::Moved);
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(TempDir::Exists(src));
}

TEST(FileMoveTest, AcrossRealFileSystems) {
    TempDir from;
    const std::string other = TempDir::OtherFileSystemThan(from.Path());
    if (other.empty())
        GTEST_SKIP() << "no second file system here; the copy path is covered by the seam tests";
    TempDir to(other);
    ExpectWholeMove(from, to);
    ExpectNoReplace(from, to);
    // And back again, onto the first file system.
    const std::string src = to.Write("back.txt", "back");
    ASSERT_TRUE(MoveFileChecked(src, from / "back.txt") == MoveOutcome::Moved);
    EXPECT_EQ(TempDir::Read(from / "back.txt"), "back");
    EXPECT_FALSE(TempDir::Exists(src));
}

TEST(FileMoveTest, CopyPathThroughSeam) {
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporary" : "unnamed temporary");
        SeamScope seam({true, named, {}});
        TempDir from, to;
        ExpectWholeMove(from, to);
        ExpectNoReplace(from, to);
        int error = 0;
        const std::string src = from.Write("b.txt", "b");
        EXPECT_FALSE(MoveFileChecked(src, to / "nofolder/b.txt", &error) == MoveOutcome::Moved);
        EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
        EXPECT_TRUE(TempDir::Exists(src));
        // Permission bits the creation mask would take away, and set-id bits, arrive too.
        const mode_t old = umask(022);
        for (const mode_t mode : {0666u, 0640u, 02755u}) {
            const std::string name = "mode" + std::to_string(mode);
            const std::string file = from.Write(name, "m");
            ASSERT_EQ(chmod(file.c_str(), mode), 0);
            ASSERT_TRUE(MoveFileChecked(file, to / name) == MoveOutcome::Moved);
            struct stat st;
            ASSERT_EQ(stat((to / name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, mode) << name;
        }
        umask(old);
    }
}

// An editor saves a new version over the source's name (a new file renamed over it, which
// opens nothing of ours) while the old one is being copied: the old version arrives, the new
// one stays where it was saved. Both a single move and a pass's batched one.
TEST(FileMoveTest, AFileSavedOverTheSourceWhileItIsCopiedStays) {
    for (const bool batched : {false, true}) {
        SCOPED_TRACE(batched ? "batched" : "single");
        TempDir from, to;
        const std::string src = from.Write("report.txt", "old version");
        SeamScope seam({true, false, [&](MoveStep step) {
                            if (step == MoveStep::Sync) {
                                const std::string saved = from.Write("report.new", "new version");
                                EXPECT_EQ(std::rename(saved.c_str(), src.c_str()), 0);
                            }
                            return 0;
                        }});
        int error = -1;
        MoveOutcome outcome;
        if (batched) {
            MoveBatch batch;
            ReadOnlyFile file(src, ReadOnlyFile::Purpose::ForMove);
            outcome = batch.Move(file, src, to / "report.txt", &error);
            EXPECT_TRUE(batch.Finish().empty());
        } else {
            outcome = MoveFileChecked(src, to / "report.txt", &error);
        }
        EXPECT_EQ(outcome, MoveOutcome::Moved);
        EXPECT_EQ(error, ERROR_SUCCESS);
        EXPECT_EQ(TempDir::Read(to / "report.txt"), "old version");
        EXPECT_EQ(TempDir::Read(src), "new version");
        EXPECT_EQ(from.Entries(), std::vector<std::string>{"report.txt"});
        EXPECT_EQ(to.Entries(), std::vector<std::string>{"report.txt"});
    }
}

TEST(FileMoveTest, RenameSeeingAnotherDeviceTakesTheCopyPath) {
    SeamScope seam(
        {false, false, [](MoveStep step) { return step == MoveStep::Rename ? EXDEV : 0; }});
    TempDir from, to;
    ExpectWholeMove(from, to);
}

TEST(FileMoveTest, EveryFailureOnTheCopyPathKeepsTheSourceAndNoTemporary) {
    const MoveStep steps[] = {MoveStep::OpenSource, MoveStep::CreateTemp, MoveStep::Copy,
                              MoveStep::Sync,       MoveStep::Link,       MoveStep::RemoveSource};
    for (const bool named : {false, true}) {
        for (const MoveStep failing : steps) {
            SCOPED_TRACE(testing::Message() << "step " << static_cast<int>(failing)
                                            << (named ? " named" : " unnamed"));
            SeamScope seam({true, named, [failing](MoveStep step) {
                                return step == failing ? (step == MoveStep::Copy ? ENOSPC : EIO)
                                                       : 0;
                            }});
            TempDir from, to;
            const std::string body = Content(100000);
            const std::string src = from.Write("keep.txt", body);
            int error = 0;
            EXPECT_FALSE(MoveFileChecked(src, to / "keep.txt", &error) == MoveOutcome::Moved);
            EXPECT_EQ(error, failing == MoveStep::Copy ? ERROR_DISK_FULL : ERROR_IO_DEVICE);
            EXPECT_EQ(TempDir::Read(src), body);
            EXPECT_TRUE(to.Entries().empty()); // neither the final name nor a temporary
        }
    }
}

// A sparse file keeps its holes when it is copied: 256 MiB holding two pieces of data (a hole
// before, between and after them) arrives whole, taking the room of those pieces only.
TEST(FileMoveTest, ASparseFileStaysSparseAndWhole) {
    TempDir from;
    const std::string other = TempDir::OtherFileSystemThan(from.Path());
    const off_t size = off_t{256} << 20;
    const std::pair<off_t, std::string> pieces[] = {{(off_t{1} << 20) + 7, "MATCH near the start"},
                                                    {off_t{100} << 20, std::string(70000, 'd')}};
    for (const bool real : {true, false}) {
        if (real && other.empty())
            continue;
        SCOPED_TRACE(real ? "across file systems" : "copied on one file system");
        std::unique_ptr<SeamScope> seam;
        if (!real)
            seam = std::make_unique<SeamScope>(MoveSeam{true, false, {}});
        TempDir to(real ? other : "");
        const std::string src = from / "disk.img";
        const int fd = open(src.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        for (const auto& [at, data] : pieces)
            ASSERT_EQ(pwrite(fd, data.data(), data.size(), at), static_cast<ssize_t>(data.size()));
        ASSERT_EQ(ftruncate(fd, size), 0);
        close(fd);

        ASSERT_TRUE(MoveFileChecked(src, to / "disk.img") == MoveOutcome::Moved);
        EXPECT_FALSE(TempDir::Exists(src));
        struct stat st;
        ASSERT_EQ(stat((to / "disk.img").c_str(), &st), 0);
        EXPECT_EQ(st.st_size, size);
        EXPECT_LT(st.st_blocks * 512, 1 << 20) << "the holes were filled";
        // Whole: the pieces where they were, zeros everywhere else.
        const int in = open((to / "disk.img").c_str(), O_RDONLY);
        std::string got(1 << 20, '\0'), want(1 << 20, '\0');
        off_t offset = 0;
        for (; offset < size; offset += static_cast<off_t>(got.size())) {
            ASSERT_EQ(pread(in, got.data(), got.size(), offset), static_cast<ssize_t>(got.size()));
            std::fill(want.begin(), want.end(), '\0');
            for (const auto& [at, data] : pieces)
                for (std::size_t i = 0; i < data.size(); ++i)
                    if (at + static_cast<off_t>(i) >= offset &&
                        at + static_cast<off_t>(i) < offset + static_cast<off_t>(want.size()))
                        want[static_cast<std::size_t>(at + static_cast<off_t>(i) - offset)] =
                            data[i];
            ASSERT_TRUE(got == want) << "differs in the MiB at " << offset;
        }
        close(in);
    }
}

} // namespace ferry
