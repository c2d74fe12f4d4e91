#pragma once

// The services the windows take from their surroundings.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "core/pass_observer.h"
#include "core/scheduler.h"

namespace ferry {

class UserPrompts;

// What the windows take from their surroundings. Each empty member means the real thing:
// a QTimer, the desktop's tray, the boxes on the screen. Tests fill in the ones they drive
// by hand.
struct FormEnvironment {
    // The scheduler's timer; `onTick` is the window's tick handler, already guarded.
    std::function<std::unique_ptr<IntervalTimer>(QObject* owner, std::function<void()> onTick)>
        MakeTimer;
    std::function<bool()> TrayAvailable;
    // Told of every pass as it runs, on the worker, after the program's own observers.
    PassObserver* PassWatcher = nullptr;
    UserPrompts* Prompts = nullptr;
    // The notification balloon the tray icon shows after a pass.
    std::function<void(const QString& title, const QString& text)> ShowTrayMessage;
};

} // namespace ferry
