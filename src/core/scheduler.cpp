#include "core/scheduler.h"

namespace ferry {

uint32_t TimerPeriodForMinutes(int64_t minutes) {
    if (minutes <= 0)
        return 0;
    constexpr int64_t kMinute = 60000;
    if (minutes > static_cast<int64_t>(kLongestTimerPeriod) / kMinute)
        return kLongestTimerPeriod;
    return static_cast<uint32_t>(minutes * kMinute);
}

void Scheduler::SetIntervalMinutes(int64_t minutes) {
    Timer_.SetInterval(TimerPeriodForMinutes(minutes));
}

void Scheduler::Pause() {
    Timer_.SetEnabled(false);
}

void Scheduler::Resume() {
    if (PassRunning_)
        return;
    Timer_.SetEnabled(true);
    if (OnResumed)
        OnResumed();
}

bool Scheduler::BeginPass() {
    if (PassRunning_)
        return false;
    Timer_.SetEnabled(false);
    PassRunning_ = true;
    return true;
}

bool Scheduler::BeginTriggeredPass() {
    if (PassRunning_)
        return false;
    PassRunning_ = true;
    Triggered_ = true;
    return true;
}

void Scheduler::EndPass(bool completed) {
    const bool triggered = Triggered_;
    PassRunning_ = false;
    Triggered_ = false;
    if (!completed) {
        Timer_.SetEnabled(false);
        return;
    }
    if (!triggered)
        Timer_.SetEnabled(true);
}

} // namespace ferry
