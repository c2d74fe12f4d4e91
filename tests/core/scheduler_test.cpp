#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "base/exception.h"
#include "core/engine.h"
#include "core/scheduler.h"
#include "support/manual_interval_timer.h"

namespace ferry {
namespace {

// A scheduler on a manual clock whose ticks run a pass that records each time it ran.
struct ClockedScheduler {
    ManualIntervalTimer timer;
    Scheduler scheduler{timer};
    std::vector<uint64_t> passes;

    ClockedScheduler() {
        timer.OnTimer = [this] { RunNow(); };
        // As the main window starts: a period from the layout, then the stored interval,
        // then the show that restarts the countdown.
        timer.SetInterval(30000);
        timer.SetEnabled(true);
    }
    void Show() {
        scheduler.Pause();
        scheduler.Resume();
    }
    // A pass that takes no time, as a tick or Run Tasks Now starts one.
    void RunNow() {
        if (!scheduler.BeginPass())
            return;
        passes.push_back(timer.Now());
        scheduler.EndPass(true);
    }
};

constexpr uint64_t kMinute = 60000;

TEST(Scheduler, PeriodZeroNeverFiresButARunStillWorks) {
    ClockedScheduler s;
    s.scheduler.SetIntervalMinutes(0);
    s.Show();
    s.timer.AdvanceMinutes(24 * 60);
    EXPECT_TRUE(s.passes.empty());

    s.RunNow();
    EXPECT_EQ(s.passes.size(), 1u);
    s.timer.AdvanceMinutes(24 * 60);
    EXPECT_EQ(s.passes.size(), 1u);
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

TEST(Scheduler, APassTakesTheNamedTaskRowsInOrder) {
    TaskTable table;
    EXPECT_TRUE(TaskRowsForPass(table).empty());
    table.AppendTask({"one", "/a", "/b", "m1"});
    table.AppendTask({"", "/c", "/d", "m2"}); // no name: not a task
    table.AppendTask({"three", "/e", "/f", "m3"});
    EXPECT_EQ(TaskRowsForPass(table),
              (std::vector<TaskRecord>{{"one", "/a", "/b", "m1"}, {"three", "/e", "/f", "m3"}}));
}

TEST(Scheduler, APassKeepsTheRulesAndAResumeMeanwhileWaitsForItsEnd) {
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
    // Nor does Run Tasks Now start one beside it.
    s.RunNow();
    EXPECT_TRUE(s.passes.empty());
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

// Files arriving every few minutes must not put the timed pass off for ever: the timer keeps
// its period through passes of arrived files, and only an error stops it.
TEST(Scheduler, PassesOfArrivedFilesKeepTheTimersPeriod) {
    ClockedScheduler s;
    s.scheduler.SetIntervalMinutes(10);
    s.Show();
    for (int i = 0; i < 4; ++i) {
        s.timer.AdvanceMinutes(3);
        ASSERT_TRUE(s.scheduler.BeginTriggeredPass());
        EXPECT_FALSE(s.scheduler.BeginPass()) << "a timed pass beside it";
        s.scheduler.EndPass(true);
    }
    EXPECT_EQ(s.passes, std::vector<uint64_t>{10 * kMinute});

    ASSERT_TRUE(s.scheduler.BeginTriggeredPass());
    s.scheduler.EndPass(false);
    EXPECT_FALSE(s.scheduler.TimerRunning());
    int resumed = 0;
    s.scheduler.OnResumed = [&] { ++resumed; };
    s.Show();
    EXPECT_TRUE(s.scheduler.TimerRunning());
    EXPECT_EQ(resumed, 1);
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
