#include "ui/qt_interval_timer.h"

#include <climits>

#include "base/exception.h"

namespace ferry {

QtIntervalTimer::QtIntervalTimer(QObject* owner, std::function<void()> onTick)
    : Timer_(new QTimer(owner)) {
    Timer_->setObjectName(QStringLiteral("Timer1"));
    Timer_->setTimerType(Qt::CoarseTimer);
    QObject::connect(Timer_, &QTimer::timeout, Timer_, std::move(onTick));
}

void QtIntervalTimer::Restart() {
    Timer_->stop();
    if (!Enabled_ || Interval_ == 0)
        return;
    Timer_->start(static_cast<int>(std::min<uint32_t>(Interval_, INT_MAX)));
    if (!Timer_->isActive()) {
        Enabled_ = false; // so that the next Resume tries again
        throw EOutOfResources("Not enough timers available");
    }
}

void QtIntervalTimer::SetInterval(uint32_t milliseconds) {
    if (milliseconds == Interval_)
        return;
    Interval_ = milliseconds;
    Restart();
}

void QtIntervalTimer::SetEnabled(bool enabled) {
    if (enabled == Enabled_)
        return;
    Enabled_ = enabled;
    Restart();
}

} // namespace ferry
