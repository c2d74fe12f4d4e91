#include "platform/instance_lock.h"

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace ferry {

using test::ChildProcess;
using test::TempDir;

// A second copy on the same store is refused and learns who holds it; once the holder lets
// go (or ends), the next one takes it. The lock's folders are made as needed.
TEST(InstanceLock, ASecondHolderIsRefusedAndNamesTheFirst) {
    TempDir dir;
    const std::string path = dir / "registry/sub/headless.lock";
    // Forked before the lock is taken, so that it shares none of its descriptors.
    ChildProcess second([&](ChildProcess& self) {
        uint64_t step = 0;
        InstanceLock lock;
        self.Receive(step, 10000);
        const InstanceLock::Result refused = lock.Take(path);
        self.Send(static_cast<uint64_t>(refused));
        self.Send(static_cast<uint64_t>(lock.Holder()));
        self.Receive(step, 10000);
        const InstanceLock::Result taken = lock.Take(path);
        self.Send(static_cast<uint64_t>(taken));
        self.Receive(step, 10000);
        return 0;
    });
    InstanceLock first;
    ASSERT_EQ(first.Take(path), InstanceLock::Result::Taken) << first.Error();
    EXPECT_EQ(TempDir::Read(path), std::to_string(getpid()) + "\n");
    second.Send(1);
    uint64_t refused = 0, holder = 0, taken = 0;
    ASSERT_TRUE(second.Receive(refused, 10000));
    ASSERT_TRUE(second.Receive(holder, 10000));
    EXPECT_EQ(refused, static_cast<uint64_t>(InstanceLock::Result::HeldByOther));
    EXPECT_EQ(holder, static_cast<uint64_t>(getpid()));

    first.Release();
    second.Send(1);
    ASSERT_TRUE(second.Receive(taken, 10000));
    EXPECT_EQ(taken, static_cast<uint64_t>(InstanceLock::Result::Taken));
    EXPECT_EQ(TempDir::Read(path), std::to_string(second.Pid()) + "\n");
    // Killed while holding it: the system lets go, and the id it left is not taken as a holder's.
    second.Kill();
    EXPECT_EQ(second.Wait(10000), 128 + 9);
    InstanceLock third;
    EXPECT_EQ(third.Take(path), InstanceLock::Result::Taken);
}

} // namespace ferry
