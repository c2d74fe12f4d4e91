#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/move_parts.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ferry {

using test::ChildProcess;
using test::TempDir;

namespace {

// A writer whose open of the file looked the name up long before it reaches the file: it
// holds a path descriptor taken before the move started and opens through it for appending
// when told, however the file is named by then. Answers the bytes it appended.
ChildProcess LateWriter(const std::string& path) {
    return ChildProcess([path](ChildProcess& self) {
        const int looked = open(path.c_str(), O_PATH | O_CLOEXEC);
        if (looked < 0)
            return 1;
        self.Send(1);
        uint64_t go = 0;
        if (!self.Receive(go, 20000))
            return 2;
        const int fd = open(("/proc/self/fd/" + std::to_string(looked)).c_str(),
                            O_WRONLY | O_APPEND | O_CLOEXEC);
        uint64_t appended = 0;
        if (fd >= 0 && write(fd, "late line\n", 10) == 10)
            appended = 10;
        if (fd >= 0)
            close(fd);
        self.Send(appended);
        return 0;
    });
}

} // namespace

// Whatever instant the late writer reaches the source at, after its content was copied and
// before the mover lets it go, nothing it writes is lost: the file ends in one place, whole,
// and moves whole once the writer is done.
TEST(LateOpenTest, WriterThatLookedTheNameUpEarlyLosesNothing) {
    const std::string head = "MATCH head\n";
    for (const bool batched : {false, true}) {
        for (const MoveStep at : {MoveStep::DropStash, MoveStep::LetGo}) {
            SCOPED_TRACE(std::string(batched ? "batch, " : "single move, ") +
                         (at == MoveStep::DropStash ? "before the stash goes" : "after"));
            TempDir from, to;
            const std::string src = from.Write("app.log", head);
            ChildProcess writer = LateWriter(src);
            uint64_t ready = 0;
            ASSERT_TRUE(writer.Receive(ready, 10000));
            const MoveSeam seam{true, false, [&](MoveStep step) {
                                    if (step == at) {
                                        writer.Send(1);
                                        test::WaitUntilInSystemCall(writer.Pid(), SYS_openat, 5000);
                                    }
                                    return 0;
                                }};
            SetMoveSeamForTesting(&seam);
            bool inUse = false;
            if (batched) {
                MoveBatch batch;
                ReadOnlyFile file(src, ReadOnlyFile::Purpose::ForMove);
                EXPECT_EQ(batch.Move(file, src, to / "app.log"), MoveOutcome::Moved);
                inUse = batch.Finish() == std::vector<std::string>{src};
            } else {
                inUse = MoveFileChecked(src, to / "app.log") == MoveOutcome::InUse;
            }
            SetMoveSeamForTesting(nullptr);
            uint64_t appended = 0;
            ASSERT_TRUE(writer.Receive(appended, 10000));
            EXPECT_EQ(writer.Wait(10000), 0);
            ASSERT_EQ(appended, 10u);

            EXPECT_TRUE(inUse);
            EXPECT_EQ(from.Entries(), std::vector<std::string>{"app.log"});
            EXPECT_TRUE(to.Entries().empty()) << "a file in two places";
            EXPECT_EQ(TempDir::Read(src), head + "late line\n");
            EXPECT_EQ(MoveFileChecked(src, to / "app.log"), MoveOutcome::Moved);
            EXPECT_EQ(TempDir::Read(to / "app.log"), head + "late line\n");
            EXPECT_TRUE(from.Entries().empty());
        }
    }
}

// A writer that had the file open before the mover did may append between the mover's look
// at its size and the lease; the copy must not end at the size it saw.
TEST(LateOpenTest, CopyOfAFileThatGrewSinceItsSizeWasTakenIsRefused) {
    TempDir from, to;
    const std::string src = from.Write("app.log", "MATCH head\n");
    const int fd = open(src.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct stat seen;
    ASSERT_EQ(fstat(fd, &seen), 0);
    const int writer = open(src.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_EQ(write(writer, "late line\n", 10), 10);
    close(writer);
    moves::TempCopy temp;
    bool marked = false;
    const moves::Result made = moves::MakeCopy(
        fd, seen, [] { return true; }, to.Path(), temp, marked);
    close(fd);
    EXPECT_EQ(made.Outcome, MoveOutcome::InUse);
}

} // namespace ferry
