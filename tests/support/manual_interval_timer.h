#pragma once

#include <cstdint>
#include <functional>

#include "core/scheduler.h"

namespace ferry {

// An interval timer driven by a clock that only moves when told to, so tests can say
// "three minutes pass" without waiting. OnTimer runs at each tick, like the message loop's
// timer message.
class ManualIntervalTimer : public IntervalTimer {
public:
    std::function<void()> OnTimer;

    void SetInterval(uint32_t milliseconds) override {
        if (milliseconds == Interval_)
            return;
        Interval_ = milliseconds;
        Elapsed_ = 0;
    }
    uint32_t Interval() const override { return Interval_; }

    void SetEnabled(bool enabled) override {
        if (enabled && !Enabled_)
            Elapsed_ = 0;
        Enabled_ = enabled;
    }
    bool Enabled() const override { return Enabled_; }

    // Moves the clock on, delivering every tick that falls within the time given. A tick
    // handler may stop, restart or re-period the timer; the rest of the time then counts
    // against the new state.
    void Advance(uint64_t milliseconds) {
        while (milliseconds > 0) {
            if (!Enabled_ || Interval_ == 0) {
                Now_ += milliseconds;
                return;
            }
            const uint64_t untilTick = Interval_ - Elapsed_;
            if (milliseconds < untilTick) {
                Elapsed_ += static_cast<uint32_t>(milliseconds);
                Now_ += milliseconds;
                return;
            }
            milliseconds -= untilTick;
            Now_ += untilTick;
            Elapsed_ = 0;
            ++Ticks_;
            if (OnTimer)
                OnTimer();
        }
    }

    void AdvanceMinutes(uint64_t minutes) { Advance(minutes * 60000); }

    uint64_t Now() const { return Now_; }
    int Ticks() const { return Ticks_; }

private:
    uint32_t Interval_ = 0;
    uint32_t Elapsed_ = 0;
    bool Enabled_ = false;
    uint64_t Now_ = 0;
    int Ticks_ = 0;
};

} // namespace ferry
