// What a pass reports of each file, besides calling its move listener: through real passes on
// real folders, with a second process holding a file open.
#include "core/engine.h"

#include "base/cancellation.h"
#include "base/exception.h"
#include "platform/file_move.h"
#include "platform/system_errors.h"
#include "support/child_process.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace ferry {

using test::ReadHolder;
using test::TempDir;

namespace {

struct Reported {
    TempDir in, out;
    test::TaskRun run;
    std::vector<FileOutcome>& outcomes = run.Outcomes;
    int& moves = run.Moves;
    std::vector<size_t>& reportedAtListener = run.ToldAtMove;

    void Pass(const std::string& destination, const std::function<void()>& extra = nullptr) {
        run.OnMove = extra;
        run.Pass(in.Path(), destination);
    }
    void Pass() { Pass(out.Path()); }

    std::map<std::string, FileOutcome> ByFile() const {
        std::map<std::string, FileOutcome> m;
        for (const FileOutcome& o : outcomes)
            m[o.File] = o;
        return m;
    }
};

} // namespace

TEST(RoutingOutcomeTest, EachFileEndsInOneOutcomeAndTheListenerHearsEveryAttempt) {
    Reported r;
    r.in.Write("moved.txt", "MATCH moved");
    r.in.Write("taken.txt", "MATCH new");
    r.out.Write("taken.txt", "old");
    r.in.Write("held.txt", "MATCH held");
    r.in.Write("other.txt", "no match here");
    ReadHolder holder(r.in / "held.txt");
    ASSERT_TRUE(holder.Ready());

    const int64_t before = WallClockMs();
    r.Pass();
    const int64_t after = WallClockMs();
    EXPECT_EQ(holder.Release(), 0);

    // The listener is called as ever: after each of the three attempts, failed ones too, each
    // time once that attempt's outcome is out.
    EXPECT_EQ(r.moves, 3);
    EXPECT_EQ(r.reportedAtListener, (std::vector<size_t>{1, 2, 3}));
    ASSERT_EQ(r.outcomes.size(), 3u); // nothing for the file that does not match
    auto by = r.ByFile();

    const FileOutcome& moved = by["moved.txt"];
    EXPECT_EQ(moved.Kind, OutcomeKind::Moved);
    EXPECT_EQ(moved.Size, 11);
    struct stat st;
    ASSERT_EQ(lstat((r.out / "moved.txt").c_str(), &st), 0);
    EXPECT_EQ(moved.Device, static_cast<uint64_t>(st.st_dev));
    EXPECT_EQ(moved.Inode, static_cast<uint64_t>(st.st_ino));
    EXPECT_EQ(moved.MTimeNs, st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec);

    EXPECT_EQ(by["taken.txt"].Kind, OutcomeKind::NameTaken);
    EXPECT_EQ(by["taken.txt"].ErrorCode, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(by["held.txt"].Kind, OutcomeKind::InUse);
    EXPECT_EQ(by["held.txt"].ErrorCode, ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(TempDir::Exists(r.in / "held.txt"));
    EXPECT_EQ(TempDir::Read(r.out / "taken.txt"), "old");
    for (const FileOutcome& o : r.outcomes) {
        SCOPED_TRACE(o.File);
        EXPECT_EQ(o.SourceFolder, r.in.Path()); // as given, not with a separator added
        EXPECT_EQ(o.DestinationFolder, r.out.Path());
        EXPECT_EQ(o.Task, "T");
        EXPECT_GE(o.TimeMs, before);
        EXPECT_LE(o.TimeMs, after);
        if (o.Kind != OutcomeKind::Moved) {
            EXPECT_EQ(o.Size, -1);
        }
    }
}

// A moved file is known by what the scan saw of it; a moved link by the link itself (its
// target's size), as Move back will look for it.
TEST(RoutingOutcomeTest, AMovedFileAndAMovedLinkAreKnownByWhatLandedAtTheDestination) {
    Reported r;
    TempDir elsewhere;
    elsewhere.Write("target.txt", "MATCH behind a link");
    r.in.Write("plain.txt", "MATCH plain");
    ASSERT_EQ(symlink((elsewhere / "target.txt").c_str(), (r.in / "link.txt").c_str()), 0);
    r.Pass();
    ASSERT_EQ(r.moves, 2);
    auto by = r.ByFile();
    for (const char* name : {"plain.txt", "link.txt"}) {
        SCOPED_TRACE(name);
        const FileOutcome& o = by[name];
        EXPECT_EQ(o.Kind, OutcomeKind::Moved);
        struct stat landed;
        ASSERT_EQ(lstat((r.out / name).c_str(), &landed), 0);
        EXPECT_EQ(o.Device, static_cast<uint64_t>(landed.st_dev));
        EXPECT_EQ(o.Inode, static_cast<uint64_t>(landed.st_ino));
        EXPECT_EQ(o.MTimeNs, landed.st_mtim.tv_sec * 1000000000 + landed.st_mtim.tv_nsec);
    }
    EXPECT_EQ(by["plain.txt"].Size, 11);
    EXPECT_EQ(by["link.txt"].Size, 19);
}

TEST(RoutingOutcomeTest, OtherMoveFailuresAndAMissingDestinationAreReported) {
    // A move that fails for a reason of its own: the system's code and the program's text.
    Reported r;
    r.in.Write("a.txt", "MATCH");
    MoveSeam seam;
    seam.Fail = [](MoveStep step) { return step == MoveStep::Rename ? EIO : 0; };
    SetMoveSeamForTesting(&seam);
    r.Pass();
    SetMoveSeamForTesting(nullptr);
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_EQ(r.outcomes[0].Kind, OutcomeKind::MoveFailed);
    EXPECT_NE(r.outcomes[0].ErrorCode, 0);
    EXPECT_EQ(r.outcomes[0].Detail, InOutErrorText(r.outcomes[0].ErrorCode));
    EXPECT_EQ(r.moves, 1);
    EXPECT_TRUE(TempDir::Exists(r.in / "a.txt"));

    // No destination folder: each matching file once per pass, and no listener call, as
    // before; the folder named as the task gives it.
    Reported m;
    m.in.Write("one.txt", "MATCH 1");
    m.in.Write("two.txt", "MATCH 2");
    m.in.Write("skip.txt", "nothing");
    const std::string missing = m.out / "gone";
    m.Pass(missing);
    m.Pass(missing);
    EXPECT_EQ(m.moves, 0);
    ASSERT_EQ(m.outcomes.size(), 4u);
    for (const FileOutcome& o : m.outcomes) {
        EXPECT_EQ(o.Kind, OutcomeKind::DestinationMissing);
        EXPECT_EQ(o.DestinationFolder, missing);
        EXPECT_NE(o.File, "skip.txt");
    }
    EXPECT_EQ(m.in.Entries().size(), 3u);
}

TEST(RoutingOutcomeTest, TheErrorThatEndsThePassIsReportedThenRaisedUnchanged) {
    // A file another program has locked cannot be read: the pass ends there.
    Reported r;
    r.in.Write("locked", "MATCH");
    const int holder = open((r.in / "locked").c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    int code = 0;
    try {
        r.Pass();
    } catch (const EInOutError& e) {
        code = e.ErrorCode;
    }
    close(holder);
    EXPECT_EQ(code, ERROR_SHARING_VIOLATION);
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_EQ(r.outcomes[0].Kind, OutcomeKind::PassError);
    EXPECT_EQ(r.outcomes[0].File, "locked");
    EXPECT_EQ(r.outcomes[0].ErrorCode, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(r.outcomes[0].Detail, "I/O error 32."); // as the error box shows it

    // The listener's error: the move it heard of is reported first, then the error, with the
    // text kept as it stands when it ends in an apostrophe.
    Reported l;
    l.in.Write("x", "MATCH");
    l.in.Write("y", "MATCH");
    EXPECT_THROW(l.Pass(l.out.Path(), [] { throw Exception("Failed to get data for 'SMTPPort'"); }),
                 Exception);
    ASSERT_EQ(l.outcomes.size(), 2u);
    EXPECT_EQ(l.outcomes[0].Kind, OutcomeKind::Moved);
    EXPECT_EQ(l.outcomes[1].Kind, OutcomeKind::PassError);
    EXPECT_EQ(l.outcomes[1].File, l.outcomes[0].File);
    EXPECT_EQ(l.outcomes[1].Detail, "Failed to get data for 'SMTPPort'");
    EXPECT_EQ(l.out.Entries().size(), 1u);

    // Work called off is no error of the pass: nothing is reported.
    Reported c;
    c.in.Write("z", "MATCH");
    CancelFlag flag;
    flag.Cancel();
    EXPECT_THROW(c.run.Pass({{"T", c.in.Path(), c.out.Path(), "MATCH"}}, true, nullptr, flag),
                 EOperationCancelled);
    EXPECT_TRUE(c.outcomes.empty());
    EXPECT_TRUE(c.run.Last.Summary.Empty());
}

// A task whose destination is its own source folder, however it is spelt, leaves every file
// where it is: each matching one is left as such, and the listener hears of the attempt, as
// for any taken name. So does a destination name that is a second name of the file.
TEST(RoutingOutcomeTest, ADestinationThatIsTheSourceItselfLeavesEveryFileWhole) {
    TempDir links;
    struct Spelling {
        const char* Name;
        std::function<std::string(const TempDir&)> Destination;
        bool Copying; // as across file systems
    };
    const Spelling spellings[] = {
        {"the same path", [](const TempDir& in) { return in.Path(); }, false},
        {"a trailing separator", [](const TempDir& in) { return in.Path() + "/"; }, false},
        {"a dot folder", [](const TempDir& in) { return in.Path() + "/./"; }, false},
        {"a link to the folder",
         [&](const TempDir& in) {
             EXPECT_EQ(symlink(in.Path().c_str(), (links / "in").c_str()), 0);
             return links / "in";
         },
         false},
        {"the same path, copying", [](const TempDir& in) { return in.Path(); }, true},
    };
    for (const Spelling& spelling : spellings) {
        SCOPED_TRACE(spelling.Name);
        Reported r;
        r.in.Write("a.txt", "MATCH a");
        r.in.Write("b.txt", "MATCH b");
        r.in.Write("c.txt", "no match");
        MoveSeam seam{true, false, {}};
        if (spelling.Copying)
            SetMoveSeamForTesting(&seam);
        const std::string destination = spelling.Destination(r.in);
        r.Pass(destination);
        r.Pass(destination);
        SetMoveSeamForTesting(nullptr);
        EXPECT_EQ(r.in.Entries(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
        EXPECT_EQ(TempDir::Read(r.in / "a.txt"), "MATCH a");
        EXPECT_EQ(TempDir::Read(r.in / "b.txt"), "MATCH b");
        EXPECT_EQ(r.moves, 4);
        ASSERT_EQ(r.outcomes.size(), 4u);
        for (const FileOutcome& o : r.outcomes) {
            EXPECT_EQ(o.Kind, OutcomeKind::DestinationIsSource) << o.File;
            EXPECT_EQ(o.ErrorCode, ERROR_ALREADY_EXISTS);
            EXPECT_EQ(o.DestinationFolder, destination);
        }
    }

    // A second name of the file in the destination: both names stay; the other file moves.
    Reported h;
    h.in.Write("a.txt", "MATCH a");
    h.in.Write("b.txt", "MATCH b");
    ASSERT_EQ(link((h.in / "a.txt").c_str(), (h.out / "a.txt").c_str()), 0);
    h.Pass();
    EXPECT_EQ(h.in.Entries(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(h.out.Entries(), (std::vector<std::string>{"a.txt", "b.txt"}));
    auto by = h.ByFile();
    EXPECT_EQ(by["a.txt"].Kind, OutcomeKind::DestinationIsSource);
    EXPECT_EQ(by["b.txt"].Kind, OutcomeKind::Moved);
}

// A file whose source someone opens before its move across file systems is final (as an open
// of its old name already under way would) returns to its name, and its copy goes: the pass
// tells it once, as left in use, and never as moved as well.
TEST(RoutingOutcomeTest, AFileOpenedBeforeItsMoveIsFinalIsToldOnceAsLeftInUse) {
    Reported r;
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        r.in.Write(name, std::string("MATCH ") + name);
    MoveSeam seam{true, false, {}};
    SetMoveSeamForTesting(&seam);
    std::string opened;
    r.Pass(r.out.Path(), [&] {
        if (r.moves != 1)
            return;
        // The first file moved waits under a hidden name for its batch to end.
        for (const std::string& name : r.in.Entries()) {
            if (name.rfind(".~ferrydesk-", 0) != 0)
                continue;
            char value[4096] = {};
            ASSERT_GT(
                lgetxattr((r.in / name).c_str(), "user.ferrydesk.temp", value, sizeof value - 1),
                0);
            opened = std::string(value).substr(std::string(value).rfind('/') + 1);
            errno = 0;
            EXPECT_LT(open((r.in / name).c_str(), O_RDONLY | O_NONBLOCK), 0);
            EXPECT_EQ(errno, EWOULDBLOCK);
        }
    });
    SetMoveSeamForTesting(nullptr);
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(r.moves, 3);
    ASSERT_EQ(r.outcomes.size(), 3u);
    auto by = r.ByFile();
    ASSERT_EQ(by.size(), 3u);
    for (const auto& [name, o] : by) {
        SCOPED_TRACE(name);
        EXPECT_EQ(o.Kind, name == opened ? OutcomeKind::InUse : OutcomeKind::Moved);
        EXPECT_EQ(TempDir::Exists(r.in / name), name == opened);
        EXPECT_EQ(TempDir::Exists(r.out / name), name != opened) << "a file in two places";
    }
    EXPECT_EQ(r.in.Entries(), std::vector<std::string>{opened});
}

} // namespace ferry
