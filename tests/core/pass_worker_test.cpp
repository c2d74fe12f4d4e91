#include "core/pass_worker.h"

#include "base/exception.h"
#include "core/engine.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace ferry {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

// The end of one pass as the worker reports it.
struct Ending {
    std::promise<void> promise;
    std::future<void> future = promise.get_future();
    PassWorker::Done Done() {
        return [this] { promise.set_value(); };
    }
    bool Arrived(std::chrono::milliseconds limit = 10s) {
        return future.wait_for(limit) == std::future_status::ready;
    }
};

TEST(PassWorker, RunsOnePassAtATimeOnItsOwnThreadAndHandsBackTheError) {
    PassWorker worker;
    std::atomic<bool> release{false};
    std::thread::id ranOn;
    Ending first;
    ASSERT_TRUE(worker.Start(
        [&](const CancelFlag&) {
            ranOn = std::this_thread::get_id();
            for (int i = 0; i < 1000 && !release; ++i)
                std::this_thread::sleep_for(10ms);
        },
        first.Done()));
    EXPECT_TRUE(worker.Busy());
    bool secondRan = false;
    EXPECT_FALSE(worker.Start([&](const CancelFlag&) { secondRan = true; }, nullptr))
        << "two passes at once";
    release = true;
    ASSERT_TRUE(first.Arrived());
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_EQ(ranOn, worker.ThreadId()) << "every pass on the one worker thread";

    // The worker is free again as soon as the end is reported; work that raises ends itself,
    // never the thread.
    EXPECT_FALSE(worker.Busy());
    Ending failed;
    ASSERT_TRUE(worker.Start([](const CancelFlag&) { throw EInOutError(32); }, failed.Done()));
    ASSERT_TRUE(failed.Arrived());
    Ending after;
    ASSERT_TRUE(worker.Start([](const CancelFlag&) {}, after.Done()));
    ASSERT_TRUE(after.Arrived());
    EXPECT_FALSE(secondRan);

    worker.Stop();
    EXPECT_FALSE(worker.Start([](const CancelFlag&) {}, nullptr)) << "nothing starts once stopped";
}

TEST(PassWorker, StopCallsOffARoutingPassBetweenFilesNeverInsideAMove) {
    TempDir in, out;
    for (const char* name : {"1", "2", "3"})
        in.Write(name, std::string("MATCH ") + name);
    PassWorker worker;
    std::atomic<int> moves{0};
    std::atomic<bool> stopAsked{false};
    test::TaskRun run;
    run.OnMove = [&] {
        ++moves;
        // The notification after the first move waits until the program ends.
        while (!ThreadCancelled())
            std::this_thread::sleep_for(5ms);
        stopAsked = true;
    };
    PassEnd end;
    Ending ending;
    ASSERT_TRUE(worker.Start(
        [&](const CancelFlag& cancel) {
            end = RunPass({{"T", in.Path(), out.Path(), "MATCH"}}, PassRules{true}, run, cancel);
        },
        ending.Done()));
    for (int i = 0; i < 1000 && moves == 0; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(moves, 1);
    const auto asked = std::chrono::steady_clock::now();
    worker.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    EXPECT_TRUE(stopAsked);
    ASSERT_TRUE(ending.Arrived(0ms)) << "the end is reported before Stop returns";
    ASSERT_NE(end.Error, nullptr);
    EXPECT_THROW(std::rethrow_exception(end.Error), EOperationCancelled);
    // One file moved whole, the other two never begun.
    EXPECT_EQ(moves, 1);
    ASSERT_EQ(out.Entries().size(), 1u);
    EXPECT_EQ(in.Entries().size(), 2u);
    const std::string moved = out.Entries()[0];
    EXPECT_EQ(TempDir::Read(out / moved), "MATCH " + moved);
}

} // namespace
} // namespace ferry
