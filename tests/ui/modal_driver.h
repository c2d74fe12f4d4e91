#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace ferry::test {

// Runs `act` on the next modal window once it is up (a box a handler is about to open and
// wait on). Checks again every few milliseconds, a bounded number of times.
inline void WhenModalOpens(std::function<void(QWidget*)> act, int triesLeft = 200) {
    QTimer::singleShot(5, [act = std::move(act), triesLeft]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            act(modal);
            return;
        }
        if (triesLeft > 0)
            WhenModalOpens(std::move(act), triesLeft - 1);
    });
}

} // namespace ferry::test
