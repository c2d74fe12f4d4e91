// ferrydesk --headless as a server runs it: the real program on a private settings store,
// routing files as they arrive in watched folders, one line per outcome on standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "settings/settings_store.h"
#include "settings/task_entries.h"
#include "settings/watch_setting.h"
#include "support/registry_sandbox.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace ferry::test {
namespace {

using namespace std::chrono_literals;

const std::string Program = std::string(FERRY_BINARY_DIR) + "/bin/ferrydesk";

// Polls every 20 ms, at most `limit`.
bool Within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        SleepMs(20);
    }
    return true;
}

class HeadlessTest : public RegistrySandboxTest {
protected:
    TempDir State, Files;
    ScopedEnv StateHome{"XDG_STATE_HOME", State.Path().c_str()};
    ScopedEnv NoDisplay{"DISPLAY", nullptr};

    // One task per source folder (made under Files), all into "out", looking for MATCH.
    void Store(const std::vector<std::string>& sources) {
        InitialiseDefaults();
        Files.MakeDir("out");
        TaskTable table;
        for (const std::string& source : sources) {
            if (!std::filesystem::exists(Files / source))
                Files.MakeDir(source);
            table.AppendTask({source, Files / source, Files / "out", "MATCH"});
        }
        const TaskSnapshot snapshot = table.Snapshot();
        SaveTaskEntries(snapshot.Count, snapshot);
        ASSERT_TRUE(WriteWatchFolders(true));
    }

    struct Running {
        ChildProcess Child;
        std::string Log;
        std::string Text() const { return TempDir::Read(Log); }
        // Lines of the log that tell a file's outcome, counted by the line.
        std::map<std::string, int> Outcomes() const {
            std::map<std::string, int> lines;
            std::istringstream in(Text());
            for (std::string line; std::getline(in, line);)
                if (line.rfind("ferrydesk: ", 0) != 0)
                    ++lines[line];
            return lines;
        }
    };

    void Start(Running& r, const std::string& name = "headless") {
        r.Log = Files / (name + ".log");
        r.Child.StartProgram({"/bin/sh", "-c", "exec \"$0\" --headless 2>\"$1\"", Program, r.Log});
        ASSERT_TRUE(Within(10s, [&] {
            return std::filesystem::exists(r.Log) && r.Text().find("routing") != std::string::npos;
        })) << r.Text();
    }

    bool Moved(const std::string& name, std::chrono::milliseconds limit = 10s) {
        return Within(limit, [&] { return std::filesystem::exists(Files / ("out/" + name)); });
    }
};

// The stories a watched folder must get right, on one running program: a file written in
// pieces, a download under a temporary name, a file held open, a second copy refused, the
// end on SIGTERM.
TEST_F(HeadlessTest, RoutesFilesAsTheyArriveAndEndsOnSigterm) {
    Store({"in"});
    Running r;
    Start(r);

    // A second copy on the same settings refuses, naming the first, with the status the
    // unit does not restart on.
    const ChildResult second = RunProgram({Program, "--headless"}, {}, 20s);
    EXPECT_EQ(second.Status(), 3) << second.Output;
    EXPECT_NE(second.Output.find("process " + std::to_string(r.Child.Pid())), std::string::npos)
        << second.Output;

    // Written in pieces over 3 s: still there until its writer closes it.
    ChildProcess writer([&](ChildProcess& self) {
        const int fd = open((Files / "in/pieces.txt").c_str(), O_WRONLY | O_CREAT, 0644);
        for (int i = 0; i < 6; ++i) {
            if (write(fd, "MATCH piece\n", 12) != 12)
                return 1;
            SleepMs(500);
        }
        self.Send(1);
        uint64_t go = 0;
        self.Receive(go, 10000);
        return close(fd) == 0 ? 0 : 1;
    });
    uint64_t written = 0;
    ASSERT_TRUE(writer.Receive(written, 10000));
    EXPECT_TRUE(std::filesystem::exists(Files / "in/pieces.txt"));
    writer.Send(1);
    EXPECT_EQ(writer.Wait(10000), 0);
    ASSERT_TRUE(Moved("pieces.txt"));
    EXPECT_EQ(TempDir::Read(Files / "out/pieces.txt").size(), 6u * 12);

    // A download under .part is moved once, under its final name.
    Files.Write("in/x.pdf.part", "MATCH download");
    SleepMs(300);
    EXPECT_TRUE(std::filesystem::exists(Files / "in/x.pdf.part"));
    std::filesystem::rename(Files / "in/x.pdf.part", Files / "in/x.pdf");
    ASSERT_TRUE(Moved("x.pdf"));

    // Held open: left, and moved once its holder lets go. Opened under a temporary name and
    // renamed, so that it is held from the moment it arrives.
    Files.Write("in/held.txt.part", "MATCH held");
    {
        ReadHolder holder(Files / "in/held.txt.part");
        ASSERT_TRUE(holder.Ready());
        std::filesystem::rename(Files / "in/held.txt.part", Files / "in/held.txt");
        SleepMs(500);
        EXPECT_FALSE(std::filesystem::exists(Files / "out/held.txt"));
        EXPECT_EQ(holder.Release(), 0);
    }
    ASSERT_TRUE(Moved("held.txt", 5s));

    // One line per outcome, each once; no temporary name was ever looked at.
    SleepMs(200);
    const std::map<std::string, int> outcomes = r.Outcomes();
    EXPECT_EQ(outcomes, (std::map<std::string, int>{{"in: held.txt: moved", 1},
                                                    {"in: pieces.txt: moved", 1},
                                                    {"in: x.pdf: moved", 1}}))
        << r.Text();

    const auto asked = std::chrono::steady_clock::now();
    r.Child.Kill(SIGTERM);
    EXPECT_EQ(r.Child.Wait(5000), 0) << r.Text();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
}

// A flood of files, events lost to a lowered queue limit, a folder removed and made again,
// and a folder on a FUSE file system, which the watch does not trust.
TEST_F(HeadlessTest, AFloodLostEventsAndFoldersThatComeAndGo) {
    Store({"in", "again"});
    {
        Running r;
        Start(r);
        // 1,000 files at about 100 a second, each open for about 150 ms while written in two
        // pieces: a file moved while open would arrive without its tail.
        constexpr int Files_ = 1000, Open = 15;
        ChildProcess flood([&](ChildProcess&) {
            int fds[Open];
            for (int i = 0; i < Files_ + Open; ++i) {
                int& fd = fds[i % Open];
                if (i >= Open && (write(fd, "tail\n", 5) != 5 || close(fd) != 0))
                    return 1;
                if (i < Files_) {
                    fd = open((Files / ("in/f" + std::to_string(i))).c_str(), O_WRONLY | O_CREAT,
                              0644);
                    if (fd < 0 || write(fd, "MATCH ", 6) != 6)
                        return 1;
                }
                SleepMs(10);
            }
            return 0;
        });
        EXPECT_EQ(flood.Wait(60000), 0);
        ASSERT_TRUE(Within(30s, [&] { return Files.Entries("out").size() == Files_; }))
            << Files.Entries("out").size();
        int incomplete = 0;
        for (const std::string& name : Files.Entries("out"))
            incomplete += TempDir::Read(Files / ("out/" + name)) != "MATCH tail\n";
        EXPECT_EQ(incomplete, 0);
        EXPECT_TRUE(Files.Entries("in").empty());
        int twice = 0;
        for (const auto& [line, times] : r.Outcomes())
            twice += times != 1;
        EXPECT_EQ(twice, 0);
        EXPECT_EQ(r.Outcomes().size(), static_cast<size_t>(Files_));

        // Removed and made again: watched again.
        std::filesystem::remove_all(Files / "again");
        SleepMs(300);
        Files.MakeDir("again");
        SleepMs(300);
        Files.Write("again/back.txt", "MATCH");
        EXPECT_TRUE(Moved("back.txt", 10s)) << r.Text();
        r.Child.Kill(SIGTERM);
        EXPECT_EQ(r.Child.Wait(5000), 0);
    }
    {
        // More names waiting than the watch keeps: the folder is passed whole instead.
        ScopedEnv limit{"FERRYDESK_WATCH_PENDING_LIMIT", "5"};
        Running r;
        Start(r, "limited");
        for (int i = 0; i < 200; ++i)
            Files.Write("in/burst" + std::to_string(i), "MATCH");
        EXPECT_TRUE(Within(10s, [&] { return Files.Entries("in").empty(); }))
            << Files.Entries("in").size();
        r.Child.Kill(SIGTERM);
        EXPECT_EQ(r.Child.Wait(5000), 0);
    }
    const std::string bindfs = FindProgram("bindfs");
    if (bindfs.empty())
        GTEST_SKIP() << "bindfs is missing (scripts/install-deps installs it)";
    TempDir lower;
    const ChildResult mounted = RunProgram({bindfs, lower.Path(), Files / "again"}, {}, 20s);
    if (!mounted.Ok())
        GTEST_SKIP() << "no FUSE mount here: " << mounted.Output;
    struct Unmount {
        std::string Path;
        ~Unmount() { umount2(Path.c_str(), MNT_DETACH); }
    } unmount{Files / "again"};
    Running r;
    Start(r, "shared");
    lower.Write("remote.txt", "MATCH");
    SleepMs(1500);
    EXPECT_TRUE(std::filesystem::exists(lower / "remote.txt")) << "left for the timed pass";
    EXPECT_NE(r.Text().find("again: on a shared file system (fuse)"), std::string::npos)
        << r.Text();
    r.Child.Kill(SIGTERM);
    EXPECT_EQ(r.Child.Wait(5000), 0);
}

} // namespace
} // namespace ferry::test
