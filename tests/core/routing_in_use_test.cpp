#include "core/engine.h"

#include "support/child_process.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace ferry {

using test::ChildProcess;
using test::TempDir;

namespace {

struct Folders {
    explicit Folders(const std::string& outParent = "") : out(outParent) {}
    TempDir in, out;
    test::TaskRun run;
    int& moves = run.Moves;
    void Pass() { run.Pass(in.Path(), out.Path()); }
};

// A second process with `path` open: read-only, or appending a line every few milliseconds.
// Told to stop, it closes the file and answers how many bytes it appended.
ChildProcess Hold(const std::string& path, bool append) {
    return ChildProcess([path, append](ChildProcess& self) {
        const int fd = open(path.c_str(), append ? O_WRONLY | O_APPEND : O_RDONLY);
        if (fd < 0)
            return 1;
        self.Send(1);
        uint64_t stop = 0, appended = 0;
        for (int i = 0; i < 4000 && !self.Receive(stop, 3); ++i)
            if (append && write(fd, "line\n", 5) == 5)
                appended += 5;
        close(fd);
        self.Send(appended);
        return 0;
    });
}

} // namespace

TEST(RoutingInUseTest, FilesHeldOpenStayAreReportedAndMoveOnceLetGo) {
    Folders f;
    f.in.Write("reader.txt", "MATCH read");
    f.in.Write("writer.txt", "MATCH write\n");
    f.in.Write("free.txt", "MATCH free");
    ChildProcess reader = Hold(f.in / "reader.txt", false);
    ChildProcess writer = Hold(f.in / "writer.txt", true);
    uint64_t ready = 0;
    ASSERT_TRUE(reader.Receive(ready, 10000));
    ASSERT_TRUE(writer.Receive(ready, 10000));

    f.Pass();
    EXPECT_EQ(f.moves, 3); // every attempt is reported, the failed ones too
    EXPECT_EQ(f.out.Entries(), std::vector<std::string>{"free.txt"});
    EXPECT_EQ(f.in.Entries(), (std::vector<std::string>{"reader.txt", "writer.txt"}));

    uint64_t appended = 0;
    reader.Send(1);
    writer.Send(1);
    EXPECT_TRUE(reader.Receive(appended, 10000));
    EXPECT_TRUE(writer.Receive(appended, 10000));
    EXPECT_EQ(reader.Wait(10000), 0);
    EXPECT_EQ(writer.Wait(10000), 0);
    f.Pass();
    EXPECT_EQ(f.moves, 5);
    EXPECT_TRUE(f.in.Entries().empty());
    EXPECT_EQ(TempDir::Read(f.out / "reader.txt"), "MATCH read");
    EXPECT_EQ(TempDir::Read(f.out / "writer.txt").size(), 12 + appended);
}

TEST(RoutingInUseTest, DownloadInProgressIsLeftForItsWriterToFinish) {
    for (const bool across : {false, true}) {
        TempDir probe;
        const std::string other = TempDir::OtherFileSystemThan(probe.Path());
        if (across && other.empty())
            continue;
        SCOPED_TRACE(across ? "across file systems" : "one file system");
        Folders f(across ? other : "");
        const std::string part = f.in / "statement.pdf.part";
        const std::string done = f.in / "statement.pdf";
        // The browser: writes the first half, waits, writes the rest and renames the file
        // to its final name while it still has it open, then closes it.
        ChildProcess browser([&](ChildProcess& self) {
            const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0 || write(fd, "%PDF MATCH first half\n", 22) != 22)
                return 1;
            self.Send(1);
            uint64_t go = 0;
            if (!self.Receive(go, 10000))
                return 2;
            if (write(fd, "second half\n", 12) != 12)
                return 3;
            const int renamed = rename(part.c_str(), done.c_str());
            close(fd);
            return renamed == 0 ? 0 : 4;
        });
        uint64_t ready = 0;
        ASSERT_TRUE(browser.Receive(ready, 10000));
        f.Pass();
        EXPECT_EQ(f.moves, 1);
        EXPECT_TRUE(f.out.Entries().empty());
        browser.Send(1);
        EXPECT_EQ(browser.Wait(10000), 0); // the final rename succeeded
        f.Pass();
        EXPECT_EQ(f.moves, 2);
        EXPECT_EQ(f.out.Entries(), std::vector<std::string>{"statement.pdf"});
        EXPECT_EQ(TempDir::Read(f.out / "statement.pdf"), "%PDF MATCH first half\nsecond half\n");
        EXPECT_TRUE(f.in.Entries().empty());
    }
}

// A writer that opens the file for every line it appends, as loggers do, while passes try
// to move the file from tmpfs to the work folder's file system. A move may only happen while
// the writer has it closed; every line it wrote must be in the moved file.
TEST(RoutingInUseTest, AppenderDuringCopyAcrossFileSystemsLosesNothing) {
    TempDir probe;
    const std::string other = TempDir::OtherFileSystemThan(probe.Path());
    if (other.empty())
        GTEST_SKIP() << "no second file system here";
    const std::string head = "MATCH\n" + std::string(200000, '.') + "\n";
    int roundsMovedWhileWriting = 0;
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        TempDir in(other), out;
        const std::string path = in.Write("app.log", head);
        ChildProcess writer([&](ChildProcess& self) {
            std::minstd_rand random(round);
            uint64_t written = 0;
            for (int line = 0; line < 30; ++line) {
                const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
                if (fd < 0)
                    break; // moved away: nothing more to write to
                char text[32];
                const int size = std::snprintf(text, sizeof text, "line %06d\n", line);
                if (write(fd, text, static_cast<std::size_t>(size)) == size)
                    written += static_cast<uint64_t>(size);
                close(fd);
                // Mostly a line every fraction of a millisecond, now and then a pause in
                // which a move can finish.
                test::SleepMs(random() % 8 == 0 ? 25 : random() % 400 / 1000.0);
            }
            self.Send(written);
            return 0;
        });
        uint64_t written = 0;
        bool finished = false, movedWhileWriting = false;
        // Passes until the writer is done and the file has left the source folder.
        for (int pass = 0; pass < 10000 && !(finished && !TempDir::Exists(path)); ++pass) {
            test::TaskRun().Pass(in.Path(), out.Path());
            if (!finished) {
                finished = writer.Receive(written, 1);
                if (!finished && !TempDir::Exists(path))
                    movedWhileWriting = true;
            }
        }
        ASSERT_TRUE(finished);
        roundsMovedWhileWriting += movedWhileWriting;
        EXPECT_EQ(writer.Wait(10000), 0);
        ASSERT_TRUE(TempDir::Exists(out / "app.log"));
        EXPECT_FALSE(TempDir::Exists(path));
        const std::string moved = TempDir::Read(out / "app.log");
        ASSERT_EQ(moved.size(), head.size() + written);
        EXPECT_TRUE(moved.compare(0, head.size(), head) == 0);
        EXPECT_EQ(out.Entries(), std::vector<std::string>{"app.log"});
    }
    // Most rounds should see the file move between two of the writer's lines.
    RecordProperty("MovedWhileWriting", roundsMovedWhileWriting);
    std::printf("rounds moved while the writer was still at work: %d of 200\n",
                roundsMovedWhileWriting);
}

} // namespace ferry
