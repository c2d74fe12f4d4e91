#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "core/scheduler.h"

namespace ferry {

class UserPrompts;

// What the windows take from their surroundings. Each empty member means the real thing:
// a QTimer, the desktop's tray, the routing pass with its mail notification, the boxes on
// the screen. Tests fill in the ones they drive by hand.
struct FormEnvironment {
    // The scheduler's timer; `onTick` is the window's tick handler, already guarded.
    std::function<std::unique_ptr<IntervalTimer>(QObject* owner, std::function<void()> onTick)>
        MakeTimer;
    std::function<bool()> TrayAvailable;
    TaskFolderRoutine Routine;
    UserPrompts* Prompts = nullptr;
    // The notification balloon the tray icon shows after a pass.
    std::function<void(const QString& title, const QString& text)> ShowTrayMessage;
};

} // namespace ferry
