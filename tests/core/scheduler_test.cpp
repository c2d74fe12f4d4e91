#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "base/exception.h"
#include "core/scheduler.h"
#include "support/manual_interval_timer.h"

namespace ferry {
namespace {

// A scheduler on a manual clock whose ticks run a pass that records each time it ran.
struct ClockedScheduler {
    ManualIntervalTimer timer;
    Scheduler scheduler{timer};
    TaskTable table;
    std::vector<uint64_t> passes;

    ClockedScheduler() {
        timer.OnTimer = [this] {
            scheduler.RunAllTasks(table, [](auto&, auto&, auto&, auto&) {});
            passes.push_back(timer.Now());
        };
        // As the main window starts: a period from the layout, then the stored interval,
        // then the show that restarts the countdown.
        timer.SetInterval(30000);
        timer.SetEnabled(true);
    }
    void Show() {
        scheduler.Pause();
        scheduler.Resume();
    }
};

constexpr uint64_t kMinute = 60000;

TEST(Scheduler, PeriodZeroNeverFiresButARunStillWorks) {
    ClockedScheduler s;
    s.scheduler.SetIntervalMinutes(0);
    s.Show();
    s.timer.AdvanceMinutes(24 * 60);
    EXPECT_TRUE(s.passes.empty());

    s.table.AppendTask({"t", "/src", "/dst", "x"});
    int runs = 0;
    s.scheduler.RunAllTasks(s.table, [&](auto&, auto&, auto&, auto&) { ++runs; });
    EXPECT_EQ(runs, 1);
    s.timer.AdvanceMinutes(24 * 60);
    EXPECT_TRUE(s.passes.empty());
}

TEST(Scheduler, IntervalOneFiresAMinuteAfterTheShowThenAfterEachPass) {
    ClockedScheduler s;
    s.scheduler.SetIntervalMinutes(1);
    s.timer.Advance(40000);
    s.Show(); // the countdown starts again here, at 40 s
    s.timer.Advance(kMinute - 1);
    EXPECT_TRUE(s.passes.empty());
    s.timer.Advance(1);
    ASSERT_EQ(s.passes.size(), 1u);
    EXPECT_EQ(s.passes[0], 40000 + kMinute);
    s.timer.AdvanceMinutes(3);
    EXPECT_EQ(s.passes, (std::vector<uint64_t>{40000 + kMinute, 40000 + 2 * kMinute,
                                               40000 + 3 * kMinute, 40000 + 4 * kMinute}));
}

TEST(Scheduler, AChangedPeriodRestartsTheCountdownTheSamePeriodDoesNot) {
    {
        ClockedScheduler s;
        s.scheduler.SetIntervalMinutes(10);
        s.Show();
        s.timer.AdvanceMinutes(3);
        s.scheduler.SetIntervalMinutes(5);
        s.timer.Advance(5 * kMinute - 1);
        EXPECT_TRUE(s.passes.empty());
        s.timer.Advance(1);
        EXPECT_EQ(s.passes, std::vector<uint64_t>{8 * kMinute});
    }
    {
        ClockedScheduler s;
        s.scheduler.SetIntervalMinutes(10);
        s.Show();
        s.timer.AdvanceMinutes(3);
        s.scheduler.SetIntervalMinutes(10);
        s.timer.Advance(7 * kMinute - 1);
        EXPECT_TRUE(s.passes.empty());
        s.timer.Advance(1);
        EXPECT_EQ(s.passes, std::vector<uint64_t>{10 * kMinute});
    }
}

TEST(Scheduler, PauseDropsMissedTicksAndResumeStartsAFullPeriod) {
    ClockedScheduler s;
    s.scheduler.SetIntervalMinutes(2);
    s.Show();
    s.timer.AdvanceMinutes(1);
    s.scheduler.Pause();
    s.timer.AdvanceMinutes(30);
    EXPECT_TRUE(s.passes.empty());
    s.scheduler.Resume();
    s.scheduler.Resume(); // resuming a running timer changes nothing
    s.timer.AdvanceMinutes(1);
    EXPECT_TRUE(s.passes.empty());
    s.timer.AdvanceMinutes(1);
    EXPECT_EQ(s.passes, std::vector<uint64_t>{33 * kMinute});
}

TEST(Scheduler, PassWalksTaskRowsInOrderSkippingNamelessOnes) {
    ManualIntervalTimer timer;
    Scheduler scheduler(timer);
    TaskTable table;
    table.AppendTask({"one", "/a", "/b", "m1"});
    table.AppendTask({"", "/c", "/d", "m2"}); // no name: not a task
    table.AppendTask({"three", "/e", "/f", "m3"});
    std::vector<std::string> calls;
    timer.SetInterval(60000);
    timer.SetEnabled(true);
    scheduler.RunAllTasks(table, [&](auto& src, auto& dst, auto& mask, auto& match) {
        EXPECT_FALSE(timer.Enabled()) << "the timer runs during a pass";
        calls.push_back(src + "|" + dst + "|" + mask + "|" + match);
    });
    EXPECT_EQ(calls, (std::vector<std::string>{"/a|/b|*.*|m1", "/e|/f|*.*|m3"}));
    EXPECT_TRUE(timer.Enabled());

    // An empty table does nothing and restarts the timer.
    TaskTable empty;
    timer.SetEnabled(false);
    scheduler.RunAllTasks(empty, [&](auto&, auto&, auto&, auto&) { ADD_FAILURE(); });
    EXPECT_TRUE(timer.Enabled());
}

TEST(Scheduler, AnErrorEndsThePassAndLeavesTheTimerStopped) {
    ManualIntervalTimer timer;
    Scheduler scheduler(timer);
    TaskTable table;
    table.AppendTask({"one", "/a", "/b", "m"});
    table.AppendTask({"two", "/c", "/d", "m"});
    table.AppendTask({"three", "/e", "/f", "m"});
    timer.SetInterval(60000);
    timer.SetEnabled(true);
    std::vector<std::string> ran;
    EXPECT_THROW(scheduler.RunAllTasks(table,
                                       [&](auto& src, auto&, auto&, auto&) {
                                           ran.push_back(src);
                                           if (src == "/c")
                                               throw EInOutError(32);
                                       }),
                 EInOutError);
    EXPECT_EQ(ran, (std::vector<std::string>{"/a", "/c"}));
    EXPECT_FALSE(timer.Enabled());
    timer.AdvanceMinutes(60);
    EXPECT_EQ(timer.Ticks(), 0);
    scheduler.Resume();
    timer.AdvanceMinutes(1);
    EXPECT_EQ(timer.Ticks(), 1);
}

TEST(Scheduler, APassRunElsewhereKeepsTheRulesAndAResumeMeanwhileWaitsForItsEnd) {
    ClockedScheduler s;
    s.scheduler.SetIntervalMinutes(1);
    s.Show();
    ASSERT_TRUE(s.scheduler.BeginPass());
    EXPECT_FALSE(s.scheduler.BeginPass()) << "a second pass beside the first";
    EXPECT_FALSE(s.timer.Enabled());
    s.Show(); // the window shown again while the pass runs
    EXPECT_FALSE(s.timer.Enabled());
    s.timer.AdvanceMinutes(30);
    EXPECT_EQ(s.timer.Ticks(), 0);
    // A synchronous run is refused too while the pass is out.
    int runs = 0;
    s.table.AppendTask({"t", "/a", "/b", "m"});
    s.scheduler.RunAllTasks(s.table, [&](auto&, auto&, auto&, auto&) { ++runs; });
    EXPECT_EQ(runs, 0);
    s.scheduler.EndPass(true);
    EXPECT_FALSE(s.scheduler.PassRunning());
    s.timer.Advance(kMinute - 1);
    EXPECT_EQ(s.timer.Ticks(), 0);
    s.timer.Advance(1);
    EXPECT_EQ(s.timer.Ticks(), 1);

    // Failed: stopped, even though the window was shown while it ran.
    ASSERT_TRUE(s.scheduler.BeginPass());
    s.Show();
    s.scheduler.EndPass(false);
    s.timer.AdvanceMinutes(30);
    EXPECT_EQ(s.timer.Ticks(), 1);
    s.Show();
    s.timer.AdvanceMinutes(1);
    EXPECT_EQ(s.timer.Ticks(), 2);
}

TEST(Scheduler, PeriodsThatWouldNotFitAreHeldAtTheLongest) {
    EXPECT_EQ(TimerPeriodForMinutes(0), 0u);
    EXPECT_EQ(TimerPeriodForMinutes(-5), 0u);
    EXPECT_EQ(TimerPeriodForMinutes(99), 99u * 60000);
    EXPECT_EQ(TimerPeriodForMinutes(35791), 35791u * 60000); // the last one that fits
    EXPECT_EQ(TimerPeriodForMinutes(35792), kLongestTimerPeriod);
    // 71583 minutes wrap round 32 bits to a period of about 13 seconds; it must stay long.
    EXPECT_EQ(TimerPeriodForMinutes(71583), kLongestTimerPeriod);
    EXPECT_EQ(TimerPeriodForMinutes(0x7FFFFFFF), kLongestTimerPeriod);
}

} // namespace
} // namespace ferry
