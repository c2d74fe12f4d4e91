#pragma once

// The scheduler: when the timed passes run, and the rule that passes never overlap.

#include <cstdint>
#include <functional>

namespace ferry {

// A repeating timer as the message loop offers it. Giving it a period different from the one
// it has, or enabling it while it is stopped, starts a fresh full period; the same period, or
// enabling it again, changes nothing. A period of 0 never fires. Ticks missed while it was
// stopped are not caught up. An implementation that cannot start the timer raises
// EOutOfResources "Not enough timers available".
class IntervalTimer {
public:
    virtual ~IntervalTimer() = default;
    virtual void SetInterval(uint32_t milliseconds) = 0;
    virtual uint32_t Interval() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    // Milliseconds until the next tick; -1 when none is due (stopped) or not known.
    virtual int64_t RemainingMs() const { return -1; }
};

// The longest period a timer is given. Stored intervals may be far larger than the two-digit
// field allows; their period in milliseconds would not fit the timer, so they get this one.
constexpr uint32_t kLongestTimerPeriod = 0x7FFFFFFF;

// Period in milliseconds for an interval in minutes: 0 and below never fire, and anything
// beyond kLongestTimerPeriod is held there instead of wrapping round to a short period.
uint32_t TimerPeriodForMinutes(int64_t minutes);

// The rules of the timer that runs every task at a fixed interval, over an abstract timer:
// the owner routes the timer's ticks to a pass, which it runs between BeginPass and EndPass.
class Scheduler {
public:
    explicit Scheduler(IntervalTimer& timer) : Timer_(timer) {}

    void SetIntervalMinutes(int64_t minutes);
    void Pause();
    // While a pass runs this changes nothing: the end of the pass decides.
    void Resume();

    // Passes never overlap: BeginPass stops the timer and returns false, changing nothing, when
    // a pass is already running. EndPass(true) starts the timer again with a full period;
    // EndPass(false), after an error, leaves it stopped until the next Resume.
    bool BeginPass();
    // A pass of files that just arrived in a watched folder: the timer keeps its period, so
    // that a steady trickle of files never puts the timed pass off, and is stopped only when
    // the pass ends in an error, as after a timed pass.
    bool BeginTriggeredPass();
    void EndPass(bool completed);
    // Whether a timed pass may run now: the timer is not paused (a dialog is open, or an
    // error stopped it). Passes of watched folders wait while it is.
    bool TimerRunning() const { return Timer_.Enabled(); }
    // Told whenever Resume lets the timer run again, so that whatever waited for it can go.
    std::function<void()> OnResumed;
    bool PassRunning() const { return PassRunning_; }

    IntervalTimer& Timer() { return Timer_; }

private:
    IntervalTimer& Timer_;
    bool PassRunning_ = false;
    bool Triggered_ = false;
};

} // namespace ferry
