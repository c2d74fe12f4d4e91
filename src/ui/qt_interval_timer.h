#pragma once

// The scheduler's timer on Qt's message loop.

#include <QTimer>
#include <functional>

#include "core/scheduler.h"

namespace ferry {

// The scheduler's timer on the message loop. Period 0 keeps the QTimer stopped (for
// QTimer it would mean "fire whenever idle"), though the timer still counts as enabled.
class QtIntervalTimer : public IntervalTimer {
public:
    QtIntervalTimer(QObject* owner, std::function<void()> onTick);

    void SetInterval(uint32_t milliseconds) override;
    uint32_t Interval() const override { return Interval_; }
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return Enabled_; }
    int64_t RemainingMs() const override {
        return Timer_->isActive() ? Timer_->remainingTime() : -1;
    }

    QTimer& Timer() { return *Timer_; }

private:
    void Restart();

    QTimer* Timer_;
    uint32_t Interval_ = 0;
    bool Enabled_ = false;
};

} // namespace ferry
