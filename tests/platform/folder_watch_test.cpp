#include "platform/folder_watch.h"

#include "support/child_process.h"
#include "support/registry_sandbox.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace ferry {

using test::ReadHolder;
using test::TempDir;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// What the watch told: its batches, and when each ready name came.
struct Told {
    std::vector<ReadyFiles> Ready;
    std::map<std::string, std::vector<Clock::time_point>> Names;
    int Wholes = 0;

    void Take(FolderWatchNews news) {
        for (auto& batch : news.Ready) {
            Wholes += batch.WholeFolder;
            for (const auto& name : batch.Names)
                Names[name].push_back(Clock::now());
            Ready.push_back(std::move(batch));
        }
    }
};

// Drives the watch for at most `limit`, or until `done` holds.
void Pump(FolderWatch& watch, Told& told, Clock::duration limit,
          const std::function<bool()>& done = {}) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end && !(done && done()))
        told.Take(watch.Wait(20));
}

FolderWatchState StateOf(const FolderWatch& watch, const std::string& folder) {
    for (const auto& s : watch.Statuses())
        if (s.Folder == folder)
            return s.State;
    ADD_FAILURE() << folder << " is not in the watch";
    return FolderWatchState::Failed;
}

} // namespace

// A scanner writing a file in pieces over 3 s: nothing is ready until it closes the file, then
// the file is ready once, and the watch goes back to asking for no wake-up at all.
TEST(FolderWatch, AFileWrittenInPiecesIsReadyOnlyOnceItsWriterClosesIt) {
    TempDir dir;
    FolderWatch watch;
    watch.SetFolders({dir.Path() + "/"});
    ASSERT_EQ(StateOf(watch, dir.Path()), FolderWatchState::Watched);
    const std::string path = dir / "scan.pdf";
    test::ChildProcess writer([&](test::ChildProcess& self) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (int piece = 0; piece < 6; ++piece) {
            if (write(fd, "page of a scan\n", 15) != 15)
                return 1;
            test::SleepMs(500);
        }
        close(fd);
        self.Send(1);
        return 0;
    });
    Told told;
    uint64_t closed = 0;
    Pump(watch, told, 10s, [&] { return writer.Receive(closed, 1); });
    const auto closedAt = Clock::now();
    ASSERT_EQ(closed, 1u) << "the writer did not finish";
    EXPECT_TRUE(told.Names.empty()) << "a file was ready while being written";
    Pump(watch, told, 3s, [&] { return !told.Names.empty(); });
    ASSERT_EQ(told.Names["scan.pdf"].size(), 1u);
    EXPECT_LT(told.Names["scan.pdf"][0] - closedAt, 1s);
    Pump(watch, told, 400ms);
    EXPECT_EQ(told.Ready.size(), 1u);
    EXPECT_EQ(TempDir::Read(path).size(), 90u);
    EXPECT_EQ(writer.Wait(5000), 0);
    // Idle, it asks for no wake-up, and another thread can still end its wait at once.
    EXPECT_EQ(watch.TimeoutMs(), -1);
    std::thread waker([&] { test::SleepMs(100), watch.Wake(); });
    const auto waitFrom = Clock::now();
    while (!watch.Wait(10000).Woken && Clock::now() - waitFrom < 10s) {
    }
    EXPECT_LT(Clock::now() - waitFrom, 2s);
    waker.join();
}

// A download written under a temporary name is ready once, under its final name, and so is a
// finished copy linked in; the names that programs use while writing never are, nor folders.
TEST(FolderWatch, TemporaryNamesWaitForTheirFinalName) {
    TempDir dir;
    FolderWatch watch;
    watch.SetFolders({dir.Path()});
    for (const char* name : {"x.pdf.part", "y.zip.crdownload", "z.iso.Download", "~$report.docx",
                             ".~lock.report.odt#", ".~ferrydesk-a1b2c3"})
        dir.Write(name, "in progress");
    dir.MakeDir("folder");
    Told told;
    Pump(watch, told, 500ms);
    EXPECT_TRUE(told.Ready.empty());
    ASSERT_EQ(rename((dir / "x.pdf.part").c_str(), (dir / "x.pdf").c_str()), 0);
    // A move from another file system links its finished temporary under the final name.
    ASSERT_EQ(link((dir / ".~ferrydesk-a1b2c3").c_str(), (dir / "moved.pdf").c_str()), 0);
    ASSERT_EQ(unlink((dir / ".~ferrydesk-a1b2c3").c_str()), 0);
    // Names that merely contain such a part are files like any other.
    dir.Write("notes.part.txt", "done");
    Pump(watch, told, 3s, [&] { return told.Names.size() == 3; });
    Pump(watch, told, 400ms);
    EXPECT_EQ(told.Names.size(), 3u);
    for (const char* name : {"x.pdf", "moved.pdf", "notes.part.txt"})
        EXPECT_EQ(told.Names[name].size(), 1u) << name;
}

// Closed after writing but held open by another process: not ready while held, ready once
// as soon as the holder lets go (its close brings the look, not a timer).
TEST(FolderWatch, AFileHeldOpenIsReadyOnceItsHolderLetsGo) {
    TempDir dir;
    FolderWatchOptions options;
    options.BusyRecheck = 5s; // so that only the holder's close can explain a prompt answer
    FolderWatch watch(options);
    watch.SetFolders({dir.Path()});
    const std::string path = dir.Write("held.txt", "draft");
    ReadHolder holder(path);
    ASSERT_TRUE(holder.Ready());
    dir.Write("held.txt", "final"); // closed after writing while the holder has it open
    Told told;
    Pump(watch, told, 1500ms);
    EXPECT_TRUE(told.Names.empty()) << "ready while another process had it open";
    // Our own looks at it are not taken for its holder letting go.
    EXPECT_GT(watch.TimeoutMs(), 2000);
    EXPECT_EQ(holder.Release(), 0);
    const auto released = Clock::now();
    Pump(watch, told, 4s, [&] { return !told.Names.empty(); });
    ASSERT_EQ(told.Names["held.txt"].size(), 1u);
    EXPECT_LT(told.Names["held.txt"][0] - released, 2s);
    Pump(watch, told, 400ms);
    EXPECT_EQ(told.Names["held.txt"].size(), 1u);
}

// A thousand files arriving at about a hundred a second, each held open by its writer for
// longer than the settle time (about fifteen open at once): every one is ready exactly once,
// and only once complete, and they come in batches.
TEST(FolderWatch, AThousandFilesAtAHundredASecondAreEachReadyOnce) {
    TempDir dir;
    // A settle longer than the files' spacing, so that files closed close together must come
    // in shared batches (the program's own settle is shorter than that spacing; its passes
    // are what gather files then, and its end-to-end test runs this flood at that settle).
    FolderWatchOptions options;
    options.Settle = std::chrono::milliseconds(100);
    FolderWatch watch(options);
    watch.SetFolders({dir.Path()});
    constexpr int Files = 1000, Open = 15;
    test::ChildProcess writer([&](test::ChildProcess& self) {
        int fds[Open];
        for (int i = 0; i < Files + Open; ++i) {
            int& fd = fds[i % Open];
            if (i >= Open && (write(fd, "tail\n", 5) != 5 || close(fd) != 0))
                return 1;
            if (i < Files) {
                fd = open((dir / ("f" + std::to_string(i))).c_str(), O_WRONLY | O_CREAT, 0644);
                if (fd < 0 || write(fd, "head ", 5) != 5)
                    return 1;
            }
            test::SleepMs(10);
        }
        self.Send(1);
        return 0;
    });
    Told told;
    uint64_t done = 0;
    Pump(watch, told, 60s, [&] { return told.Names.size() == Files; });
    EXPECT_TRUE(writer.Receive(done, 5000));
    EXPECT_EQ(writer.Wait(5000), 0);
    Pump(watch, told, 400ms);
    ASSERT_EQ(told.Names.size(), static_cast<size_t>(Files));
    int twice = 0, incomplete = 0;
    for (const auto& [name, times] : told.Names) {
        twice += times.size() != 1;
        incomplete += TempDir::Read(dir / name) != "head tail\n";
    }
    EXPECT_EQ(twice, 0);
    EXPECT_EQ(incomplete, 0);
    EXPECT_EQ(told.Wholes, 0);
    EXPECT_LT(told.Ready.size(), static_cast<size_t>(Files));
}

// Lost events are answered by one pass of the whole folder, after which names come one by
// one again: the kernel's queue overflowing (a file renamed to and fro while nobody reads),
// and more names waiting than the watch keeps (its limit lowered).
TEST(FolderWatch, EventsLostAreAnsweredByAWholeFolderPass) {
    long queueLimit = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queueLimit;
    ASSERT_TRUE(queueLimit > 0 && queueLimit < (1 << 20)) << queueLimit;
    struct Case {
        const char* What;
        std::size_t PendingLimit;
        std::function<void(TempDir&)> Flood;
    } const cases[] = {
        {"kernel queue overflow", 4096,
         [&](TempDir& dir) {
             const std::string a = dir.Write("a", "x"), b = dir / "b";
             for (long i = 0; i < queueLimit / 2 + 100; ++i)
                 rename(a.c_str(), b.c_str()), rename(b.c_str(), a.c_str());
         }},
        {"more names waiting than kept", 20,
         [](TempDir& dir) {
             for (int i = 0; i < 100; ++i)
                 dir.Write("n" + std::to_string(i), "x");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        TempDir dir;
        FolderWatchOptions options;
        options.PendingLimit = c.PendingLimit;
        FolderWatch watch(options);
        watch.SetFolders({dir.Path()});
        c.Flood(dir);
        Told told;
        Pump(watch, told, 3s, [&] { return told.Wholes > 0; });
        Pump(watch, told, 400ms);
        ASSERT_EQ(told.Ready.size(), 1u);
        EXPECT_TRUE(told.Ready[0].WholeFolder && told.Ready[0].Names.empty());
        EXPECT_EQ(told.Ready[0].Folder, dir.Path());
        dir.Write("after", "x");
        Pump(watch, told, 3s, [&] { return !told.Names.empty(); });
        EXPECT_EQ(told.Names["after"].size(), 1u);
    }
}

// A source folder removed and made again, or moved away and replaced, is watched again by
// itself; the new folder is passed whole once (files may have come before its watch), then
// its files by name.
TEST(FolderWatch, AFolderRemovedAndMadeAgainIsWatchedAgain) {
    TempDir root;
    const std::string src = root.MakeDir("inbox");
    FolderWatchOptions options;
    options.MissingRecheck = 300ms;
    FolderWatch watch(options);
    watch.SetFolders({src});
    ASSERT_EQ(rmdir(src.c_str()), 0);
    Told told;
    Pump(watch, told, 2s, [&] { return StateOf(watch, src) == FolderWatchState::Missing; });
    ASSERT_EQ(StateOf(watch, src), FolderWatchState::Missing);
    EXPECT_GE(watch.TimeoutMs(), 0) << "a missing folder is looked for";
    Pump(watch, told, 700ms);
    root.MakeDir("inbox");
    root.Write("inbox/early.pdf", "x");
    told = {};
    Pump(watch, told, 3s, [&] { return told.Wholes > 0; });
    ASSERT_EQ(StateOf(watch, src), FolderWatchState::Watched);
    EXPECT_EQ(told.Wholes, 1);

    ASSERT_EQ(rename(src.c_str(), (root / "inbox.old").c_str()), 0);
    root.MakeDir("inbox");
    told = {};
    Pump(watch, told, 3s, [&] { return told.Wholes > 0; });
    EXPECT_EQ(told.Wholes, 1);
    root.Write("inbox.old/lost.pdf", "x");
    root.Write("inbox/late.pdf", "x");
    Pump(watch, told, 3s, [&] { return !told.Names.empty(); });
    Pump(watch, told, 300ms);
    EXPECT_EQ(told.Names.size(), 1u);
    EXPECT_EQ(told.Names["late.pdf"].size(), 1u);
    EXPECT_EQ(watch.TimeoutMs(), -1) << "nothing is missing: no wake-up asked for";
}

// The list given again: folders kept keep their watch (and a file already waiting), those
// gone are dropped, new ones are added, and a folder named twice is one.
TEST(FolderWatch, AFolderListGivenAgainChangesOnlyTheDifference) {
    TempDir a, b, c;
    FolderWatch watch;
    watch.SetFolders({a.Path(), b.Path()});
    a.Write("waiting.txt", "x");
    Told told;
    told.Take(watch.Process());
    watch.SetFolders({c.Path() + "/", a.Path(), c.Path()});
    ASSERT_EQ(watch.Statuses().size(), 2u);
    EXPECT_EQ(watch.Statuses()[0].Folder, c.Path());
    b.Write("dropped.txt", "x");
    c.Write("added.txt", "x");
    Pump(watch, told, 3s, [&] { return told.Names.size() == 2; });
    Pump(watch, told, 300ms);
    EXPECT_EQ(told.Names.size(), 2u);
    EXPECT_TRUE(told.Names.count("waiting.txt") && told.Names.count("added.txt") && !told.Wholes);
}

// A FUSE file system (bindfs, on this machine's own folders) stands for one whose changes may
// come from elsewhere: a folder mounted over by one stops being watched and says so; once
// unmounted, the folder is watched again and passed whole.
TEST(FolderWatch, AFolderOnASharedFileSystemIsNotWatched) {
    const std::string bindfs = FindProgram("bindfs");
    if (bindfs.empty())
        GTEST_SKIP() << "bindfs is missing (scripts/install-deps installs it)";
    TempDir lower, dir;
    FolderWatch watch;
    watch.SetFolders({dir.Path()});
    ASSERT_EQ(StateOf(watch, dir.Path()), FolderWatchState::Watched);
    const ChildResult mounted = RunProgram({bindfs, lower.Path(), dir.Path()}, {}, 20s);
    if (!mounted.Ok())
        GTEST_SKIP() << "no FUSE mount here: " << mounted.Output;
    struct Unmount {
        std::string Path;
        ~Unmount() { umount2(Path.c_str(), MNT_DETACH); }
    } unmount{dir.Path()};
    Told told;
    Pump(watch, told, 3s, [&] { return StateOf(watch, dir.Path()) == FolderWatchState::Shared; });
    ASSERT_EQ(StateOf(watch, dir.Path()), FolderWatchState::Shared);
    EXPECT_EQ(watch.Statuses()[0].FileSystem, "fuse");
    lower.Write("through-fuse.pdf", "x");
    Pump(watch, told, 500ms);
    EXPECT_TRUE(told.Ready.empty());

    // A second watch meets the folder already mounted.
    FolderWatch later;
    later.SetFolders({dir.Path()});
    EXPECT_EQ(StateOf(later, dir.Path()), FolderWatchState::Shared);

    ASSERT_EQ(umount2(dir.Path().c_str(), MNT_DETACH), 0);
    Pump(watch, told, 3s, [&] { return told.Wholes > 0; });
    EXPECT_EQ(StateOf(watch, dir.Path()), FolderWatchState::Watched);
    EXPECT_EQ(told.Wholes, 1);
}

} // namespace ferry
