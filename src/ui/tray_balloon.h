#pragma once

// The tray balloon as an observer of routing passes: after a pass that moved or left files,
// one notification with the pass's summary, never one per file, unless the user turned them
// off.

#include <QString>
#include <functional>

#include "core/pass_observer.h"

namespace ferry {

class TrayBalloon : public PassObserver {
public:
    using Show = std::function<void(const QString& title, const QString& text)>;
    // `wanted` is asked at each pass's end: whether the user wants these notifications.
    TrayBalloon(Show show, std::function<bool()> wanted)
        : Show_(std::move(show)), Wanted_(std::move(wanted)) {}

    void PassEnded(const PassEnd& end) override;

private:
    Show Show_;
    std::function<bool()> Wanted_;
};

} // namespace ferry
