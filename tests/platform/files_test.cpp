#include "platform/files.h"

#include "base/exception.h"
#include "platform/exclusive_open.h"
#include "platform/system_errors.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ferry {

using test::TempDir;

namespace {

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

int ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EInOutError& e) {
        return e.ErrorCode;
    }
    return 0;
}

} // namespace

TEST(FilesTest, MasksFollowWindowsWildcards) {
    EXPECT_TRUE(MatchesFileMask("a.txt", "*.*"));
    EXPECT_TRUE(MatchesFileMask("README", "*.*")); // no dot, still every file
    EXPECT_TRUE(MatchesFileMask(".hidden", "*.*"));
    EXPECT_TRUE(MatchesFileMask("Report.TXT", "*.txt"));
    EXPECT_FALSE(MatchesFileMask("report.txt.bak", "*.txt"));
    EXPECT_TRUE(MatchesFileMask("a1.log", "a?.log"));
    EXPECT_FALSE(MatchesFileMask("a.log", "a?.log"));
    EXPECT_TRUE(MatchesFileMask("readme", "read*.*"));
    EXPECT_FALSE(MatchesFileMask("x", ""));
    // Many stars against a long name stay quick.
    EXPECT_FALSE(MatchesFileMask(std::string(200, 'a'), "*a*a*a*a*a*a*a*a*b"));
}

TEST(FilesTest, ListingHoldsRegularFilesAndLinksToThemOnly) {
    TempDir dir;
    dir.Write("plain.txt", "x");
    dir.Write(".hidden", "x");
    dir.Write("readonly.txt", "x");
    chmod((dir / "readonly.txt").c_str(), 0444);
    dir.MakeDir("sub");
    dir.Write("sub/inner.txt", "x");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(symlink("plain.txt", (dir / "link-to-file").c_str()), 0);
    ASSERT_EQ(symlink("sub", (dir / "link-to-folder").c_str()), 0);
    ASSERT_EQ(symlink("missing", (dir / "dangling").c_str()), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = dir / "sock";
    if (sockPath.size() < sizeof addr.sun_path) { // a deep TMPDIR cannot hold a socket
        sockPath.copy(addr.sun_path, sockPath.size());
        EXPECT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }

    std::vector<std::string> names;
    ASSERT_TRUE(ListFiles(dir.Path(), "*.*", names));
    EXPECT_EQ(Sorted(names),
              (std::vector<std::string>{".hidden", "link-to-file", "plain.txt", "readonly.txt"}));
    ASSERT_TRUE(ListFiles(dir.Path() + "/", "*.txt", names));
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"plain.txt", "readonly.txt"}));
    close(sock);

    // A missing folder, or one that is a file, cannot be listed.
    names = {"stale"};
    EXPECT_FALSE(ListFiles(dir / "nowhere", "*.*", names));
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(ListFiles(dir / "plain.txt", "*.*", names));
    EXPECT_FALSE(ListFiles("", "*.*", names));

    EXPECT_TRUE(FolderExists(dir.Path()));
    EXPECT_TRUE(FolderExists(dir / "sub/"));
    EXPECT_TRUE(FolderExists(dir / "link-to-folder"));
    EXPECT_FALSE(FolderExists(dir / "plain.txt"));
    EXPECT_FALSE(FolderExists(dir / "nowhere"));
    EXPECT_FALSE(FolderExists(""));
}

TEST(FilesTest, TrailingSeparatorIsAddedOnce) {
    EXPECT_EQ(IncludeTrailingSeparator("/data/in"), "/data/in/");
    EXPECT_EQ(IncludeTrailingSeparator("/data/in/"), "/data/in/");
    EXPECT_EQ(IncludeTrailingSeparator("/"), "/");
    EXPECT_EQ(IncludeTrailingSeparator(""), "");
}

TEST(FilesTest, ReadOnlyFileReadsSeeksAndSizes) {
    TempDir dir;
    const std::string path = dir.Write("f.bin", "0123456789");
    chmod(path.c_str(), 0444); // read-only files open for reading like any other
    ReadOnlyFile file(path);
    EXPECT_EQ(file.Size(), 10);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    file.Seek(2);
    EXPECT_EQ(file.Read(buffer, 16), 8u); // short only at the end
    EXPECT_EQ(std::string(buffer, 8), "23456789");
    EXPECT_EQ(file.Read(buffer, 16), 0u);
    EXPECT_EQ(file.Position(), 10);
    EXPECT_EQ(ErrorOf([&] { file.Seek(-1); }), ERROR_NEGATIVE_SEEK);
    file.Close();
}

TEST(FilesTest, OpenFailuresCarryWindowsCodes) {
    TempDir dir;
    dir.Write("f.txt", "x");
    EXPECT_EQ(ErrorOf([&] { ReadOnlyFile f(dir / "missing.txt"); }), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ErrorOf([&] { ReadOnlyFile f(dir / "nofolder/missing.txt"); }), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ErrorOf([&] { ReadOnlyFile f(dir / "f.txt/under-a-file"); }), ERROR_PATH_NOT_FOUND);
    // A folder or a FIFO is not a file: refused at once, never blocking.
    EXPECT_EQ(ErrorOf([&] { ReadOnlyFile f(dir.Path()); }), ERROR_ACCESS_DENIED);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(ErrorOf([&] { ReadOnlyFile f(dir / "pipe"); }), ERROR_ACCESS_DENIED);

    try {
        ReadOnlyFile f(dir / "missing.txt");
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }

    if (geteuid() != 0) { // root reads whatever the mode says
        const std::string locked = dir.Write("secret.txt", "x");
        chmod(locked.c_str(), 0);
        EXPECT_EQ(ErrorOf([&] { ReadOnlyFile f(locked); }), ERROR_ACCESS_DENIED);
    }
}

TEST(FilesTest, ExclusiveHolderGivesSharingViolation) {
    TempDir dir;
    const std::string path = dir.Write("held.txt", "x");
    const int holder = open(path.c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    try {
        ReadOnlyFile f(path);
        ADD_FAILURE() << "opened a file held exclusively";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode, ERROR_SHARING_VIOLATION);
        EXPECT_STREQ(e.what(), "I/O error 32");
    }
    // A shared holder (someone reading) does not keep us out, and we leave no lock behind.
    flock(holder, LOCK_SH);
    { ReadOnlyFile f(path); }
    flock(holder, LOCK_UN);
    {
        // While we read, an exclusive taker is told the file is in use.
        ReadOnlyFile f(path);
        EXPECT_NE(flock(holder, LOCK_EX | LOCK_NB), 0);
    }
    EXPECT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    close(holder);
}

// The open that reads the first block refuses what the plain open refuses, keeps exclusive
// takers out while open, and leaves no lock or lease behind: with leases and without.
TEST(FilesTest, FirstBlockOpenKeepsTheSharingRules) {
    TempDir dir;
    const std::string small = dir.Write("small.txt", "0123456789");
    const std::string large = dir.Write("large.txt", std::string(70000, 'b'));
    auto lockedOut = [](const std::string& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return errno == EWOULDBLOCK; // waits on a lease
        const bool refused = flock(fd, LOCK_EX | LOCK_NB) != 0;
        close(fd);
        return refused;
    };
    char block[32768];
    for (const bool leases : {true, false}) {
        SCOPED_TRACE(leases ? "with leases" : "without leases");
        SetLeaseDisabledForTesting(!leases);
        {
            ReadOnlyFile f(small, block, sizeof block);
            EXPECT_EQ(f.FirstBlock(), 10u);
            EXPECT_EQ(f.Size(), 10);
            EXPECT_EQ(std::string(block, 10), "0123456789");
            EXPECT_TRUE(lockedOut(small));
        }
        EXPECT_FALSE(lockedOut(small)) << "a lock or lease outlived the file";
        {
            // Past one block the rest is read under the shared lock alone: others open the
            // file at once, exclusive takers stay out.
            ReadOnlyFile f(large, block, sizeof block);
            EXPECT_EQ(f.FirstBlock(), sizeof block);
            EXPECT_EQ(f.Size(), 70000);
            const int other = open(large.c_str(), O_RDONLY | O_NONBLOCK);
            EXPECT_GE(other, 0) << "the rest of the scan keeps others waiting";
            EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
            close(other);
        }
        // Open elsewhere (no lease to be had): read when shared, refused when held.
        const int holder = open(small.c_str(), O_RDONLY);
        {
            ReadOnlyFile f(small, block, 4);
            EXPECT_EQ(f.FirstBlock(), 4u);
            EXPECT_EQ(f.Size(), 10);
            EXPECT_NE(flock(holder, LOCK_EX | LOCK_NB), 0);
        }
        ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(ErrorOf([&] { ReadOnlyFile f(small, block, sizeof block); }),
                  ERROR_SHARING_VIOLATION);
        close(holder);
        EXPECT_EQ(ErrorOf([&] { ReadOnlyFile f(dir.Path(), block, sizeof block); }),
                  ERROR_ACCESS_DENIED);
    }
    SetLeaseDisabledForTesting(false);
}

TEST(FilesTest, ErrnoMapsByMeaning) {
    EXPECT_EQ(SystemErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SystemErrorFromErrno(EMFILE), ERROR_TOO_MANY_OPEN_FILES);
    EXPECT_EQ(SystemErrorFromErrno(ENFILE), ERROR_TOO_MANY_OPEN_FILES);
    EXPECT_EQ(SystemErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SystemErrorFromErrno(EPERM), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SystemErrorFromErrno(EBUSY), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(SystemErrorFromErrno(EEXIST), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(SystemErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
    EXPECT_EQ(SystemErrorFromErrno(EXDEV), ERROR_NOT_SAME_DEVICE);
    EXPECT_EQ(SystemErrorFromErrno(EIO), ERROR_IO_DEVICE);
    EXPECT_EQ(EInOutError(SystemErrorFromErrno(EIO)).message(), "I/O error 1117");
}

} // namespace ferry
