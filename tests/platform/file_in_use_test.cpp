#include "base/exception.h"
#include "platform/copy_mark.h"
#include "platform/exclusive_open.h"
#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/system_errors.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <memory>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace ferry {

using test::ChildProcess;
using test::TempDir;

namespace {

class SeamScope {
public:
    explicit SeamScope(MoveSeam seam) : Seam(std::move(seam)) { SetMoveSeamForTesting(&Seam); }
    ~SeamScope() { SetMoveSeamForTesting(nullptr); }
    MoveSeam Seam;
};

// A move across file systems of `src` to `to` (into a named temporary when `named`) that
// someone opens the source of, with `flags`, when the move comes to step `at`.
MoveOutcome MoveOpenedAt(const std::string& src, const std::string& to, MoveStep at,
                         bool named = false, int flags = O_RDONLY | O_NONBLOCK) {
    SeamScope seam({true, named, [&](MoveStep step) {
                        if (step == at) {
                            const int fd = open(src.c_str(), flags);
                            if (fd >= 0)
                                close(fd);
                        }
                        return 0;
                    }});
    return MoveFileChecked(src, to);
}

// A move across file systems killed once its copy is linked and marked, before the source
// went: both stay, the copy marked as ours, for the next move to settle.
void LeaveCopyOfKilledMove(const std::string& src, const std::string& to) {
    ChildProcess mover([&](ChildProcess&) {
        MoveSeam seam{true, false, [](MoveStep step) {
                          if (step == MoveStep::RemoveSource)
                              raise(SIGKILL);
                          return 0;
                      }};
        SetMoveSeamForTesting(&seam);
        MoveFileChecked(src, to);
        return 0;
    });
    EXPECT_EQ(mover.Wait(10000), 128 + SIGKILL);
    EXPECT_TRUE(TempDir::Exists(src));
    EXPECT_EQ(lgetxattr(to.c_str(), "user.ferrydesk.move", nullptr, 0) > 0, true);
}

class NoLeaseScope {
public:
    NoLeaseScope() { SetLeaseDisabledForTesting(true); }
    ~NoLeaseScope() { SetLeaseDisabledForTesting(false); }
};

enum class Hold { Reader, Appender, Mapping };

// A second process holding `path` open until told to let go: a reader, a writer appending a
// line every few milliseconds, or a mapping whose descriptor is already closed. It answers
// the number of bytes it appended.
class Holder {
public:
    Holder(const std::string& path, Hold how)
        : Child([path, how](ChildProcess& self) {
              int fd = open(path.c_str(), how == Hold::Appender ? O_WRONLY | O_APPEND : O_RDONLY);
              if (fd < 0)
                  return 1;
              void* map = nullptr;
              if (how == Hold::Mapping) {
                  map = mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0);
                  close(fd);
                  if (map == MAP_FAILED)
                      return 2;
              }
              self.Send(1);
              uint64_t command = 0, appended = 0;
              for (int i = 0; i < 4000 && !self.Receive(command, 5); ++i) {
                  if (how == Hold::Appender && write(fd, "more\n", 5) == 5)
                      appended += 5;
              }
              if (how == Hold::Mapping)
                  munmap(map, 1);
              else
                  close(fd);
              self.Send(appended);
              return 0;
          }) {
        uint64_t ready = 0;
        Ready = Child.Receive(ready, 10000);
    }
    // Lets go of the file; the bytes appended meanwhile.
    uint64_t Release() {
        Child.Send(1);
        uint64_t appended = 0;
        Child.Receive(appended, 10000);
        Child.Wait(10000);
        return appended;
    }
    ChildProcess Child;
    bool Ready = false;
};

// Limits the search for holders to this process and `other` for one scope.
class SearchScope {
public:
    explicit SearchScope(pid_t other) : Pids{getpid(), other} {
        SetSearchedProcessesForTesting(&Pids);
    }
    ~SearchScope() { SetSearchedProcessesForTesting(nullptr); }
    std::vector<pid_t> Pids;
};

// Every holder keeps the file in place; once it lets go, the file moves whole. `scoped`
// limits the search (used without a lease) to the test and the holder.
void ExpectHeldFilesStay(const TempDir& from, const TempDir& to, bool scoped = false) {
    for (const Hold how : {Hold::Reader, Hold::Appender, Hold::Mapping}) {
        SCOPED_TRACE(static_cast<int>(how));
        const std::string body = "MATCH held\n";
        const std::string src = from.Write("held.txt", body);
        Holder holder(src, how);
        ASSERT_TRUE(holder.Ready);
        std::unique_ptr<SearchScope> scope;
        if (scoped)
            scope = std::make_unique<SearchScope>(holder.Child.Pid());
        int error = 0;
        EXPECT_EQ(MoveFileChecked(src, to / "held.txt", &error), MoveOutcome::InUse);
        EXPECT_EQ(error, ERROR_SHARING_VIOLATION);
        EXPECT_TRUE(TempDir::Exists(src));
        EXPECT_TRUE(to.Entries().empty());
        const uint64_t appended = holder.Release();
        EXPECT_EQ(MoveFileChecked(src, to / "held.txt", &error), MoveOutcome::Moved);
        EXPECT_EQ(error, ERROR_SUCCESS);
        EXPECT_FALSE(TempDir::Exists(src));
        EXPECT_EQ(TempDir::Read(to / "held.txt").size(), body.size() + appended);
        unlink((to / "held.txt").c_str());
    }
}

std::string OtherFileSystem(const TempDir& here) {
    return TempDir::OtherFileSystemThan(here.Path());
}

// Drops CAP_LEASE from this process's capability sets; true on success.
bool DropLeaseCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_LEASE / 32].effective &= ~(1u << (CAP_LEASE % 32));
    data[CAP_LEASE / 32].permitted &= ~(1u << (CAP_LEASE % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

TEST(FileInUseTest, FileHeldOpenElsewhereStaysUntilLetGo) {
    {
        TempDir from, to;
        ExpectHeldFilesStay(from, to);
    }
    {
        SCOPED_TRACE("copy path");
        SeamScope seam({true, false, {}});
        TempDir from, to;
        ExpectHeldFilesStay(from, to);
    }
    TempDir from;
    if (!OtherFileSystem(from).empty()) {
        SCOPED_TRACE("across file systems");
        TempDir to(OtherFileSystem(from));
        ExpectHeldFilesStay(from, to);
    }
    {
        SCOPED_TRACE("without a lease");
        NoLeaseScope noLease;
        TempDir from2, to2;
        ExpectHeldFilesStay(from2, to2, true);
        // A process that cannot be searched might hold the file: it then stays.
        const std::string src = from2.Write("unsure.txt", "x");
        struct stat st;
        ASSERT_EQ(stat(src.c_str(), &st), 0);
        bool complete = true;
        EXPECT_FALSE(OpenedByOthers(st.st_dev, st.st_ino, -1, complete));
        if (!complete) {
            EXPECT_EQ(MoveFileChecked(src, to2 / "unsure.txt"), MoveOutcome::InUse);
        }
    }
    // Our own open descriptor counts like anyone's: the scan must close its own first.
    TempDir a, b;
    const std::string src = a.Write("mine.txt", "x");
    const int mine = open(src.c_str(), O_RDONLY);
    EXPECT_EQ(MoveFileChecked(src, b / "mine.txt"), MoveOutcome::InUse);
    close(mine);
    EXPECT_EQ(MoveFileChecked(src, b / "mine.txt"), MoveOutcome::Moved);
}

TEST(FileInUseTest, LeaseRefusedFallsBackToSearchingEveryProcess) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to own a file as another user and drop CAP_LEASE";
    TempDir from, to;
    const std::string src = from.Write("theirs.txt", "MATCH theirs");
    ASSERT_EQ(chown(src.c_str(), 4242, 4242), 0);
    Holder holder(src, Hold::Reader);
    ASSERT_TRUE(holder.Ready);

    // The mover: root without CAP_LEASE, so no lease on another user's file.
    const pid_t holderPid = holder.Child.Pid();
    ChildProcess mover([&](ChildProcess& self) {
        SearchScope scope(holderPid);
        if (!DropLeaseCapability())
            return 10;
        const int fd = open(src.c_str(), O_RDONLY);
        const bool refused = fcntl(fd, F_SETLEASE, F_WRLCK) != 0 && errno == EACCES;
        close(fd);
        if (!refused)
            return 11;
        int error = 0;
        if (MoveFileChecked(src, to / "theirs.txt", &error) != MoveOutcome::InUse ||
            error != ERROR_SHARING_VIOLATION)
            return 12;
        self.Send(1);
        uint64_t go = 0;
        if (!self.Receive(go, 10000))
            return 13;
        return MoveFileChecked(src, to / "theirs.txt") == MoveOutcome::Moved ? 0 : 14;
    });
    uint64_t refusedWhileHeld = 0;
    EXPECT_TRUE(mover.Receive(refusedWhileHeld, 10000));
    EXPECT_TRUE(TempDir::Exists(src));
    holder.Release();
    mover.Send(1);
    EXPECT_EQ(mover.Wait(10000), 0);
    EXPECT_EQ(TempDir::Read(to / "theirs.txt"), "MATCH theirs");
    EXPECT_FALSE(TempDir::Exists(src));
}

TEST(FileInUseTest, SourceOpenedOrChangedDuringCopyKeepsItWhole) {
    const std::string body(700000, 'z');
    // Opened while copied (the lease breaks): the copy is dropped, the source stays.
    for (const bool named : {false, true}) {
        TempDir from, to;
        const std::string src = from.Write("f", body);
        EXPECT_EQ(MoveOpenedAt(src, to / "f", MoveStep::Sync, named, O_WRONLY | O_NONBLOCK),
                  MoveOutcome::InUse);
        EXPECT_TRUE(TempDir::Read(src) == body);
        EXPECT_TRUE(to.Entries().empty());
    }
    // Without a lease, a change of size and times tells the same.
    {
        NoLeaseScope noLease;
        SearchScope scope(getpid());
        TempDir from, to;
        const std::string src = from.Write("f", body);
        SeamScope seam({true, false, [&](MoveStep step) {
                            if (step == MoveStep::Sync) {
                                const int fd = open(src.c_str(), O_WRONLY | O_APPEND);
                                EXPECT_EQ(write(fd, "!", 1), 1);
                                close(fd);
                            }
                            return 0;
                        }});
        EXPECT_EQ(MoveFileChecked(src, to / "f"), MoveOutcome::InUse);
        EXPECT_TRUE(TempDir::Read(src) == body + "!");
        EXPECT_TRUE(to.Entries().empty());
    }
    // Opened once the copy is linked: the copy goes again, and the file stays whole where it
    // was, in one place.
    for (const bool named : {false, true}) {
        TempDir from, to;
        const std::string src = from.Write("f", body);
        EXPECT_EQ(MoveOpenedAt(src, to / "f", MoveStep::Link, named), MoveOutcome::InUse);
        EXPECT_TRUE(TempDir::Read(src) == body);
        EXPECT_TRUE(to.Entries().empty());
    }
    // Killed once the copy is linked: both stay for now, and the next move lets the source
    // go, as the copy is ours and identical.
    {
        TempDir from, to;
        const std::string src = from.Write("f", body);
        LeaveCopyOfKilledMove(src, to / "f");
        EXPECT_TRUE(TempDir::Read(src) == body);
        EXPECT_TRUE(TempDir::Read(to / "f") == body);
        SeamScope copy({true, false, {}});
        int error = -1;
        EXPECT_EQ(MoveFileChecked(src, to / "f", &error), MoveOutcome::Moved);
        EXPECT_EQ(error, ERROR_SUCCESS);
        EXPECT_FALSE(TempDir::Exists(src));
        EXPECT_TRUE(TempDir::Read(to / "f") == body);
        char mark[256];
        EXPECT_LT(getxattr((to / "f").c_str(), "user.ferrydesk.move", mark, sizeof mark), 0);
    }
    // The same, but the source is written after that: the copy is no longer provably the
    // source's, and both stay, the name taken.
    {
        TempDir from, to;
        const std::string src = from.Write("f", body);
        LeaveCopyOfKilledMove(src, to / "f");
        from.Write("f", "rewritten");
        SeamScope copy({true, false, {}});
        EXPECT_EQ(MoveFileChecked(src, to / "f"), MoveOutcome::NameTaken);
        EXPECT_EQ(TempDir::Read(src), "rewritten");
        EXPECT_TRUE(TempDir::Read(to / "f") == body);
    }
    // A copy left so by an earlier version, whose mark is text, is known as ours just the same.
    {
        TempDir from, to;
        const std::string src = from.Write("f", body);
        LeaveCopyOfKilledMove(src, to / "f");
        char value[256];
        const ssize_t size =
            getxattr((to / "f").c_str(), "user.ferrydesk.move", value, sizeof value);
        ASSERT_GT(size, 0);
        CopyMark mark;
        ASSERT_TRUE(CopyMark::Parse(std::string_view(value, static_cast<std::size_t>(size)), mark));
        char text[256];
        std::snprintf(text, sizeof text, "1 %llu %llu %lld %lld %lld %lld %lld %016" PRIx64,
                      mark.Dev, mark.Ino, mark.Size, mark.MtimeSec, mark.MtimeNsec, mark.CtimeSec,
                      mark.CtimeNsec, mark.Hash);
        ASSERT_EQ(setxattr((to / "f").c_str(), "user.ferrydesk.move", text, std::strlen(text), 0),
                  0);
        SeamScope copy({true, false, {}});
        EXPECT_EQ(MoveFileChecked(src, to / "f"), MoveOutcome::Moved);
        EXPECT_FALSE(TempDir::Exists(src));
        EXPECT_TRUE(TempDir::Read(to / "f") == body);
    }
}

TEST(FileInUseTest, OnlyOurOwnCopiesAndTemporariesAreSettled) {
    const std::string body(300000, 'k');
    TempDir from, to;
    // A copy that was ours, but edited at the destination since, is the user's now.
    const std::string src = from.Write("f", body);
    LeaveCopyOfKilledMove(src, to / "f");
    {
        const int fd = open((to / "f").c_str(), O_WRONLY);
        ASSERT_EQ(pwrite(fd, "EDIT", 4, 10), 4);
        close(fd);
    }
    int error = 0;
    EXPECT_EQ(MoveFileChecked(src, to / "f", &error), MoveOutcome::NameTaken);
    EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(TempDir::Read(src) == body);
    EXPECT_EQ(TempDir::Read(to / "f").substr(10, 4), "EDIT");

    // A user's file that looks like a temporary of ours, but has content and no mark, stays;
    // so does a temporary still open in a move in progress.
    to.Write(".~ferrydesk-user01", "keep me");
    const std::string empty = to.Write(".~ferrydesk-empty1", "");
    const std::string marked = to.Write(".~ferrydesk-mark01", "partial");
    ASSERT_EQ(setxattr(marked.c_str(), "user.ferrydesk.temp", "1", 1, 0), 0);
    const std::string busy = to.Write(".~ferrydesk-busy01", "partial");
    ASSERT_EQ(setxattr(busy.c_str(), "user.ferrydesk.temp", "1", 1, 0), 0);
    const int busyFd = open(busy.c_str(), O_WRONLY);
    EXPECT_FALSE(IsMoveTemporary(to / ".~ferrydesk-user01"));
    EXPECT_TRUE(IsMoveTemporary(empty));
    EXPECT_TRUE(IsMoveTemporary(marked));
    EXPECT_EQ(RemoveMoveLeftovers(to.Path()), 2);
    close(busyFd);
    EXPECT_EQ(to.Entries(),
              (std::vector<std::string>{".~ferrydesk-busy01", ".~ferrydesk-user01", "f"}));
    EXPECT_EQ(RemoveMoveLeftovers(to.Path()), 1);
}

TEST(FileInUseTest, KilledMoveIsSettledByTheNextOne) {
    const std::string body(500000, 'q');
    for (const MoveStep at : {MoveStep::Copy, MoveStep::Link, MoveStep::RemoveSource,
                              MoveStep::DropStash, MoveStep::Unmark}) {
        for (const bool named : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "killed at " << static_cast<int>(at) << (named ? " named" : ""));
            TempDir from, to;
            const std::string src = from.Write("k.txt", body);
            ChildProcess mover([&](ChildProcess&) {
                MoveSeam seam{true, named, [at](MoveStep step) {
                                  if (step == at)
                                      raise(SIGKILL);
                                  return 0;
                              }};
                SetMoveSeamForTesting(&seam);
                MoveFileChecked(src, to / "k.txt");
                return 0;
            });
            EXPECT_EQ(mover.Wait(10000), 128 + SIGKILL);
            RemoveMoveLeftovers(from.Path());
            RemoveMoveLeftovers(to.Path());
            if (TempDir::Exists(src)) {
                EXPECT_EQ(MoveFileChecked(src, to / "k.txt"), MoveOutcome::Moved);
            }
            EXPECT_FALSE(TempDir::Exists(src));
            EXPECT_TRUE(TempDir::Read(to / "k.txt") == body);
            EXPECT_EQ(to.Entries(), std::vector<std::string>{"k.txt"});
            EXPECT_EQ(from.Entries(), std::vector<std::string>{});
        }
    }
}

} // namespace ferry

namespace ferry {

// Reads share with everyone: a file another copy of the program is moving (under its lease)
// is still read, and the mover gives the file up.
TEST(FileInUseTest, ReadingMakesAMoverGiveTheFileUp) {
    TempDir folder;
    const std::string path = folder.Write("leased.txt", "read me");
    ExclusiveOpen mover;
    ASSERT_EQ(mover.Open(path), ERROR_SUCCESS);
    ASSERT_TRUE(mover.HasLease());
    ChildProcess reader([&](ChildProcess& self) {
        try {
            ReadOnlyFile file(path);
            char text[16] = {};
            const std::size_t got = file.Read(text, sizeof text);
            self.Send(got == 7 && std::string(text) == "read me" ? 1 : 2);
        } catch (const std::exception&) {
            self.Send(3);
        }
        return 0;
    });
    bool gaveUp = false;
    for (int i = 0; i < 5000 && !gaveUp; ++i) {
        if (!mover.Alone(false)) {
            mover.Close();
            gaveUp = true;
        }
        test::SleepMs(1);
    }
    EXPECT_TRUE(gaveUp);
    uint64_t result = 0;
    EXPECT_TRUE(reader.Receive(result, 10000));
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(reader.Wait(10000), 0);
}

} // namespace ferry

namespace ferry {

// A read that waits on a mover goes by the file's name: once the move is done, the file is
// gone from here, and the read must not pull it back (holding it would make a mover still in
// its last step undo the move, and two copies routing one folder would keep undoing each
// other's moves).
TEST(FileInUseTest, AReadWaitingOnAMoverFindsTheFileGoneOnceMoved) {
    TempDir folder;
    const std::string path = folder.Write("moving.txt", "moved soon");
    ExclusiveOpen mover;
    ASSERT_EQ(mover.Open(path), ERROR_SUCCESS);
    ASSERT_TRUE(mover.HasLease());
    ChildProcess reader([&](ChildProcess& self) {
        try {
            ReadOnlyFile file(path);
            self.Send(1);
        } catch (const EInOutError& e) {
            self.Send(static_cast<uint64_t>(100 + e.ErrorCode));
        } catch (const std::exception&) {
            self.Send(2);
        }
        return 0;
    });
    bool broken = false;
    for (int i = 0; i < 5000 && !broken; ++i) {
        broken = !mover.Alone(false);
        if (!broken)
            test::SleepMs(1);
    }
    ASSERT_TRUE(broken);
    ASSERT_EQ(unlink(path.c_str()), 0); // the move's last step
    test::SleepMs(20);
    mover.Close();
    uint64_t result = 0;
    EXPECT_TRUE(reader.Receive(result, 10000));
    EXPECT_EQ(result, 100u + ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reader.Wait(10000), 0);
}

} // namespace ferry

namespace ferry {

// One descriptor serves the scan and the move. A file nobody touched moves under it; someone
// opening the file while it is scanned waits on our lease only until the next block (not the
// system's lease-break time), then finds the file in use by our shared lock, and the move
// leaves the file where it is.
TEST(FileInUseTest, OpenedWhileScannedIsLetInAndTheFileStays) {
    TempDir from, to;
    const std::string quiet = from.Write("quiet.txt", "MATCH");
    {
        ReadOnlyFile file(quiet, ReadOnlyFile::Purpose::ForMove);
        ASSERT_EQ(file.LeaseState(), ReadOnlyFile::Lease::Held);
        char text[8];
        EXPECT_EQ(file.Read(text, sizeof text), 5u);
        int error = -1;
        MoveBatch batch;
        EXPECT_EQ(batch.Move(file, quiet, to / "quiet.txt", &error), MoveOutcome::Moved);
        EXPECT_TRUE(batch.Finish().empty());
        EXPECT_EQ(error, ERROR_SUCCESS);
        EXPECT_EQ(TempDir::Read(to / "quiet.txt"), "MATCH");
        EXPECT_FALSE(TempDir::Exists(quiet));
    }

    const std::string path = from.Write("busy.txt", std::string(200000, 'x'));
    ReadOnlyFile file(path, ReadOnlyFile::Purpose::ForMove);
    ASSERT_EQ(file.LeaseState(), ReadOnlyFile::Lease::Held);
    std::vector<char> block(32768);
    ASSERT_EQ(file.Read(block.data(), block.size()), block.size());
    ChildProcess writer([&](ChildProcess& self) {
        const int fd = open(path.c_str(), O_WRONLY | O_APPEND); // waits on the lease
        if (fd < 0)
            return 1;
        self.Send(flock(fd, LOCK_EX | LOCK_NB) == 0 ? 2 : 1);
        close(fd);
        return 0;
    });
    uint64_t result = 0;
    bool in = false;
    for (int i = 0; i < 2000 && !in; ++i) {
        file.Seek(block.size());
        file.Read(block.data(), block.size());
        in = writer.Receive(result, 2);
    }
    ASSERT_TRUE(in) << "the writer still waits on the lease";
    EXPECT_EQ(result, 1u) << "an exclusive lock was granted while the file was being read";
    EXPECT_EQ(writer.Wait(10000), 0);
    EXPECT_EQ(file.LeaseState(), ReadOnlyFile::Lease::Refused);
    int error = 0;
    MoveBatch batch;
    EXPECT_EQ(batch.Move(file, path, to / "busy.txt", &error), MoveOutcome::InUse);
    EXPECT_EQ(error, ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(TempDir::Exists(path));
    EXPECT_FALSE(TempDir::Exists(to / "busy.txt"));
}

} // namespace ferry

namespace ferry {

namespace {

std::vector<std::string> Stashes(const TempDir& folder) {
    std::vector<std::string> ours;
    for (const std::string& name : folder.Entries())
        if (name.rfind(".~ferrydesk-", 0) == 0)
            ours.push_back(name);
    return ours;
}

} // namespace

// A batch of moves across file systems: each file is at the destination and gone from its
// name when its move returns, but its content stays under a stash until the batch ends.
// Someone who opens it meanwhile (as an open of the old name under way would) gets it back
// under its name when the batch ends, and its copy is taken back.
TEST(FileInUseTest, SourceOpenedBeforeItsBatchEndsGetsItsNameBack) {
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
        TempDir from, to;
        SeamScope seam({true, named, {}});
        const std::string quiet = from.Write("quiet.txt", "MATCH quiet");
        const std::string opened = from.Write("opened.txt", "MATCH opened");
        MoveBatch batch;
        for (const std::string name : {"quiet.txt", "opened.txt"}) {
            const std::string path = from / name;
            ReadOnlyFile file(path, ReadOnlyFile::Purpose::ForMove);
            int error = -1;
            EXPECT_EQ(batch.Move(file, path, to / name, &error), MoveOutcome::Moved);
            EXPECT_EQ(error, ERROR_SUCCESS);
            EXPECT_FALSE(TempDir::Exists(path));
        }
        EXPECT_EQ(TempDir::Read(to / "quiet.txt"), "MATCH quiet");
        ASSERT_EQ(Stashes(from).size(), 2u) << "a source went before the batch ended";

        // Reading a stash would open it: it is told by the copy its mark names.
        std::string stash;
        for (const std::string& name : Stashes(from)) {
            char mark[4096] = {};
            if (lgetxattr((from / name).c_str(), "user.ferrydesk.temp", mark, sizeof mark - 1) >
                    0 &&
                std::string(mark).find("opened.txt") != std::string::npos)
                stash = from / name;
        }
        ASSERT_FALSE(stash.empty());
        // A first open is turned away by the lease, which it breaks; a second waits on it
        // until the batch lets the file go.
        errno = 0;
        EXPECT_LT(open(stash.c_str(), O_RDONLY | O_NONBLOCK), 0);
        EXPECT_EQ(errno, EWOULDBLOCK);
        ChildProcess opener([&](ChildProcess& self) {
            // Another program: none of the batch's files is open in it.
            for (int fd = 3; fd < 1024; ++fd) {
                struct stat st;
                if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
                    close(fd);
            }
            const int fd = open(stash.c_str(), O_RDONLY);
            self.Send(fd >= 0 ? 1 : 2);
            return 0;
        });
        // Waiting on the lease, or the file would have its name back before it was opened.
        EXPECT_TRUE(test::WaitUntilInSystemCall(opener.Pid(), SYS_openat, 5000));
        EXPECT_EQ(batch.Finish(), std::vector<std::string>{opened});
        uint64_t result = 0;
        EXPECT_TRUE(opener.Receive(result, 10000));
        EXPECT_EQ(result, 1u);
        EXPECT_EQ(opener.Wait(10000), 0);

        EXPECT_EQ(from.Entries(), std::vector<std::string>{"opened.txt"});
        EXPECT_EQ(TempDir::Read(opened), "MATCH opened");
        EXPECT_EQ(to.Entries(), std::vector<std::string>{"quiet.txt"}) << "a file in two places";
        EXPECT_EQ(MoveFileChecked(opened, to / "opened.txt"), MoveOutcome::Moved);
        EXPECT_TRUE(from.Entries().empty());
        EXPECT_EQ(TempDir::Read(to / "opened.txt"), "MATCH opened");
        EXPECT_EQ(to.Entries(), (std::vector<std::string>{"opened.txt", "quiet.txt"}));
    }
}

// A pass killed with moves of its batch unfinished, or while it drops their stashes, leaves
// every file whole at the destination once the leftovers are settled.
TEST(FileInUseTest, BatchKilledBeforeItEndsIsSettledByTheNextPass) {
    for (const bool atDrop : {false, true}) {
        SCOPED_TRACE(atDrop ? "killed dropping the stashes" : "killed before the batch ended");
        TempDir from, to;
        std::vector<std::string> bodies;
        for (int i = 0; i < 5; ++i) {
            bodies.push_back("MATCH " + std::string(1000 * (i + 1), static_cast<char>('a' + i)));
            from.Write("f" + std::to_string(i), bodies.back());
        }
        ChildProcess mover([&](ChildProcess&) {
            MoveSeam seam{true, false, [atDrop](MoveStep step) {
                              if (atDrop && step == MoveStep::DropStash)
                                  raise(SIGKILL);
                              return 0;
                          }};
            SetMoveSeamForTesting(&seam);
            MoveBatch batch;
            for (int i = 0; i < 5; ++i) {
                const std::string path = from / ("f" + std::to_string(i));
                ReadOnlyFile file(path, ReadOnlyFile::Purpose::ForMove);
                if (batch.Move(file, path, to / ("f" + std::to_string(i))) != MoveOutcome::Moved)
                    return 1;
            }
            if (!atDrop)
                raise(SIGKILL);
            batch.Finish();
            return 0;
        });
        EXPECT_EQ(mover.Wait(10000), 128 + SIGKILL);
        EXPECT_FALSE(Stashes(from).empty());
        RemoveMoveLeftovers(from.Path());
        RemoveMoveLeftovers(to.Path());
        EXPECT_TRUE(from.Entries().empty());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(TempDir::Read(to / ("f" + std::to_string(i))), bodies[i]) << i;
        EXPECT_EQ(to.Entries().size(), 5u);
    }
}

} // namespace ferry
