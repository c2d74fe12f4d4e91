#pragma once

// The tray balloon as an observer of routing passes: after a pass that moved or left files,
// one notification with the pass's summary, never one per file, unless the user turned them
// off; and, once until it works again, that the history could not record the pass.

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "activity/pass_history.h"
#include "core/pass_observer.h"

namespace ferry {

class TrayBalloon : public PassObserver {
public:
    using Show = std::function<void(const QString& title, const QString& text)>;

    // Passes whose outcomes the history could not take, since the last one it did.
    struct NotRecorded {
        std::string Reason;
        int64_t SinceMs = 0;
        int Passes = 0;
        bool Told = false; // in a notification, once until the history works again
    };

    // `history` is asked what it made of each pass; `openError` says why it has no store
    // (it is told instead of the history's own failure then).
    TrayBalloon(const PassHistory& history, std::string openError, Show show)
        : History_(history), OpenError_(std::move(openError)), Show_(std::move(show)) {}

    void PassEnded(const PassEnd& end) override;

    const NotRecorded& RecordingProblem() const { return NotRecorded_; }

private:
    const PassHistory& History_;
    const std::string OpenError_;
    Show Show_;
    NotRecorded NotRecorded_;
};

} // namespace ferry
