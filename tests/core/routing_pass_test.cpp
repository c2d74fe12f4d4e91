// The routing pass through the engine's own entry point, on real folders.
#include "core/engine.h"

#include "base/exception.h"
#include "platform/file_move.h"
#include "platform/system_errors.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ferry {

using test::TaskRun;
using test::TempDir;

namespace {

struct Folders {
    TempDir in, out;
    TaskRun run;
    int& moves = run.Moves;
    void Pass(const std::string& match, bool exact = true) {
        run.Pass(in.Path(), out.Path(), match, exact);
    }
    void Pass(const std::string& source, const std::string& destination, const std::string& match) {
        run.Pass(source, destination, match);
    }
};

} // namespace

TEST(RoutingPassTest, MovesMatchingFilesAndTellsTheListener) {
    Folders f;
    f.in.Write("a.txt", "invoice 42");
    f.in.Write("b.txt", "nothing here");
    f.in.MakeDir("sub");
    f.in.Write("sub/c.txt", "invoice too, but in a folder");
    f.Pass("invoice");
    EXPECT_EQ(f.moves, 1);
    EXPECT_EQ(f.out.Entries(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(TempDir::Read(f.out / "a.txt"), "invoice 42");
    EXPECT_EQ(f.in.Entries(), (std::vector<std::string>{"b.txt", "sub"}));

    // Five matching files, hidden and read-only ones among them, go in one pass.
    Folders five;
    for (const char* name : {"1", "2", ".hidden", "ro", "5"})
        five.in.Write(name, std::string("..KEY..") + name);
    chmod((five.in / "ro").c_str(), 0444);
    five.Pass("KEY");
    EXPECT_EQ(five.moves, 5);
    EXPECT_EQ(five.out.Entries().size(), 5u);
    EXPECT_TRUE(five.in.Entries().empty());
}

TEST(RoutingPassTest, TakenNameStaysAndIsReportedEveryPass) {
    Folders f;
    f.in.Write("dup.txt", "MATCH new");
    f.out.Write("dup.txt", "old");
    f.Pass("MATCH");
    f.Pass("MATCH");
    EXPECT_EQ(f.moves, 2);
    EXPECT_EQ(TempDir::Read(f.in / "dup.txt"), "MATCH new");
    EXPECT_EQ(TempDir::Read(f.out / "dup.txt"), "old");
}

TEST(RoutingPassTest, MissingFoldersAndEmptyPathsDoNothing) {
    Folders f;
    f.in.Write("a.txt", "MATCH");
    f.Pass(f.in.Path(), f.out / "gone", "MATCH");
    f.Pass(f.in / "gone", f.out.Path(), "MATCH");
    f.Pass("", f.out.Path(), "MATCH");
    f.Pass(f.in.Path(), "", "MATCH");
    f.Pass(f.in.Path(), f.out.Path(), "");
    EXPECT_EQ(f.moves, 0);
    EXPECT_TRUE(TempDir::Exists(f.in / "a.txt"));
    EXPECT_TRUE(f.out.Entries().empty());
    f.Pass("MATCH");
    EXPECT_TRUE(TempDir::Exists(f.out / "a.txt"));
}

TEST(RoutingPassTest, TrailingSeparatorsAreOptional) {
    Folders f;
    f.in.Write("a", "M");
    f.in.Write("b", "M");
    f.Pass(f.in.Path() + "/", f.out.Path(), "M");
    EXPECT_EQ(f.out.Entries().size(), 2u);
    Folders g;
    g.in.Write("c", "M");
    g.Pass(g.in.Path(), g.out.Path() + "/", "M");
    EXPECT_EQ(g.out.Entries(), std::vector<std::string>{"c"});
}

// The rules are the pass's from its start: the case rule it was given holds for every file
// of every task, whatever the settings say meanwhile.
TEST(RoutingPassTest, TheCaseRuleIsThePassesOwn) {
    TempDir in, other, out;
    in.Write("a.txt", "Invoice");
    other.Write("b.txt", "Invoice");
    const std::vector<TaskRecord> tasks = {{"A", in.Path(), out.Path(), "INVOICE"},
                                           {"B", other.Path(), out.Path(), "INVOICE"}};
    TaskRun exact;
    exact.Pass(tasks, true);
    EXPECT_EQ(exact.Moves, 0);
    TaskRun folded;
    folded.Pass(tasks, false);
    EXPECT_EQ(folded.Moves, 2);
    EXPECT_EQ(out.Entries(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// The next file is read while the listener runs; what decides is still the file as it is at
// its own turn. The listener rewrites every file left after the first move so that it no
// longer matches: only that first file may go. Rewriting a file read ahead must not wait
// long either: its lease is given up once someone opens it.
TEST(RoutingPassTest, AFileChangedWhileTheOneBeforeIsNotifiedIsJudgedAtItsTurn) {
    Folders f;
    for (const char* name : {"a", "b", "c", "d", "e", "f"})
        f.in.Write(name, "MATCH here");
    std::chrono::steady_clock::duration longest{};
    f.run.OnMove = [&] {
        // Time enough for the next file to be read ahead, as a notification would give.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (const std::string& name : f.in.Entries()) {
            const auto start = std::chrono::steady_clock::now();
            const int fd = open((f.in / name).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            longest = std::max(longest, std::chrono::steady_clock::now() - start);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(write(fd, "no longer", 9), 9);
            close(fd);
        }
    };
    f.Pass("MATCH");
    EXPECT_EQ(f.moves, 1);
    EXPECT_EQ(f.out.Entries().size(), 1u);
    ASSERT_EQ(f.in.Entries().size(), 5u);
    for (const std::string& name : f.in.Entries())
        EXPECT_EQ(TempDir::Read(f.in / name), "no longer") << name;
    EXPECT_LT(longest, std::chrono::milliseconds(200));
}

// Counts this process's open descriptors.
int OpenDescriptors() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

TEST(RoutingPassTest, AMovedFileIsFreeForOthersWhileTheNextIsNotified) {
    Folders f;
    for (int i = 0; i < 300; ++i)
        f.in.Write("f" + std::to_string(i), "MATCH");
    const int before = OpenDescriptors();
    int refused = 0;
    std::chrono::steady_clock::duration longest{};
    std::set<std::string> seen;
    f.run.OnMove = [&] {
        if (f.moves % 30 != 1)
            return;
        // The file just moved: whoever opens it now may not have to wait for us (an opener
        // that may not wait is refused while we still hold it).
        std::string moved;
        for (const std::string& name : f.out.Entries())
            if (seen.insert(name).second)
                moved = name;
        const auto start = std::chrono::steady_clock::now();
        int fd = -1;
        for (int attempt = 0; attempt < 1000 && fd < 0; ++attempt) {
            fd = open((f.out / moved).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                ASSERT_EQ(errno, EWOULDBLOCK);
                ++refused;
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        }
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        ASSERT_GE(fd, 0) << moved;
        close(fd);
    };
    f.Pass("MATCH");
    EXPECT_EQ(f.moves, 300);
    EXPECT_EQ(f.out.Entries().size(), 300u);
    EXPECT_LT(longest, std::chrono::milliseconds(50)) << refused << " refusals";
    // Every descriptor of the pass is closed by the time it returns.
    EXPECT_EQ(OpenDescriptors(), before);
}

// Files are copied ahead of their turn when the move crosses file systems; a copy made ahead
// must never stand for a file that was changed after it was made.
TEST(RoutingPassTest, AFileChangedAfterItWasCopiedAheadIsMovedAsItIsAtItsTurn) {
    TempDir probe;
    const std::string other = TempDir::OtherFileSystemThan(probe.Path());
    for (const bool across : {false, true}) {
        if (across && other.empty())
            continue;
        SCOPED_TRACE(across ? "across file systems" : "copies on one file system");
        const MoveSeam seam{true, false, {}};
        if (!across)
            SetMoveSeamForTesting(&seam);
        TempDir in(across ? other : ""), out;
        for (int i = 0; i < 40; ++i)
            in.Write("f" + std::to_string(100 + i), std::string(3000 + i, 'x') + "MATCH");
        // The pass takes the files in the folder's own order: the three after the first are
        // among those copied ahead while the first one is notified.
        std::vector<std::string> order;
        for (const auto& entry : std::filesystem::directory_iterator(in.Path()))
            order.push_back(entry.path().filename().string());
        ASSERT_EQ(order.size(), 40u);
        const std::string rewritten = order[1], dropped = order[2], appended = order[3];
        const std::string appendedBefore = TempDir::Read(in / appended);
        TaskRun run;
        int& moves = run.Moves;
        std::chrono::steady_clock::duration waited{};
        run.OnMove = [&] {
            if (moves != 1)
                return;
            // Time enough for the next files to be read and copied ahead.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            in.Write(rewritten, "MATCH, written again");
            in.Write(dropped, "no longer to be moved");
            const auto start = std::chrono::steady_clock::now();
            const int fd = open((in / appended).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            waited = std::chrono::steady_clock::now() - start;
            ASSERT_GE(fd, 0);
            ASSERT_EQ(write(fd, " and more", 9), 9);
            close(fd);
        };
        run.Pass(in.Path(), out.Path());
        SetMoveSeamForTesting(nullptr);
        EXPECT_LT(waited, std::chrono::milliseconds(200));
        EXPECT_EQ(moves, 39);
        EXPECT_EQ(in.Entries(), std::vector<std::string>{dropped});
        EXPECT_EQ(TempDir::Read(in / dropped), "no longer to be moved");
        EXPECT_EQ(out.Entries().size(), 39u);
        EXPECT_EQ(TempDir::Read(out / rewritten), "MATCH, written again");
        EXPECT_TRUE(TempDir::Read(out / appended) == appendedBefore + " and more");
        EXPECT_TRUE(TempDir::Read(out / order[39]).find("MATCH") != std::string::npos);
    }
}

TEST(RoutingPassTest, UnreadableFileEndsThePass) {
    Folders f;
    for (const char* name : {"a", "b", "c"})
        f.in.Write(name, "MATCH");
    const int holder = open((f.in / "b").c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    int code = 0;
    try {
        f.Pass("MATCH");
    } catch (const EInOutError& e) {
        code = e.ErrorCode;
    }
    close(holder);
    EXPECT_EQ(code, ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(TempDir::Exists(f.in / "b"));
    EXPECT_EQ(f.moves, static_cast<int>(f.out.Entries().size())); // each move reported
    EXPECT_EQ(f.in.Entries().size() + f.out.Entries().size(), 3u);

    // An error from the listener ends the pass just the same.
    Folders g;
    g.in.Write("x", "MATCH");
    g.in.Write("y", "MATCH");
    g.run.OnMove = [] { throw Exception("Failed to get data for 'SMTPPort'"); };
    EXPECT_THROW(g.Pass("MATCH"), Exception);
    EXPECT_EQ(g.out.Entries().size(), 1u);
}

TEST(RoutingPassTest, SpecialFilesAreSkippedAndManyFilesGoInOnePass) {
    Folders f;
    ASSERT_EQ(mkfifo((f.in / "pipe").c_str(), 0600), 0); // would block a scan for ever
    for (int i = 0; i < 600; ++i)
        f.in.Write("f" + std::to_string(i), i % 2 ? "odd MATCH" : "even");
    f.Pass("MATCH");
    EXPECT_EQ(f.moves, 300);
    EXPECT_EQ(f.out.Entries().size(), 300u);
    EXPECT_EQ(f.in.Entries().size(), 301u);
}

TEST(RoutingPassTest, AcrossFileSystems) {
    TempDir in;
    const std::string other = TempDir::OtherFileSystemThan(in.Path());
    if (other.empty())
        GTEST_SKIP() << "no second file system here";
    TempDir out(other);
    in.Write("a.txt", std::string(100000, 'q') + "MATCH");
    out.Write("b.txt", "old");
    in.Write("b.txt", "MATCH new");
    TaskRun run;
    run.Pass(in.Path(), out.Path(), "match", false);
    EXPECT_EQ(run.Moves, 2);
    EXPECT_EQ(TempDir::Read(out / "a.txt"), std::string(100000, 'q') + "MATCH");
    EXPECT_EQ(TempDir::Read(out / "b.txt"), "old");
    EXPECT_EQ(in.Entries(), std::vector<std::string>{"b.txt"});
    EXPECT_EQ(out.Entries(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

} // namespace ferry
