#include "ui/tray_balloon.h"

#include "settings/settings_store.h"
#include "ui/ansi_text.h"

namespace ferry {

void TrayBalloon::PassEnded(const PassEnd& end) {
    QString text;
    if (!end.Summary.Empty() && ReadDesktopNotifications())
        text = AnsiToQString(end.Summary.Text());
    // Outcomes that were not kept: the history failed to take them, or there is none.
    const RecordedPass pass = History_.LastPass();
    std::string lost = pass.HistoryError;
    if (!History_.Keeping() && !end.Summary.Empty())
        lost = OpenError_.empty() ? std::string("the history could not be opened") : OpenError_;
    if (!lost.empty()) {
        if (NotRecorded_.Passes++ == 0)
            NotRecorded_.SinceMs = end.StartMs;
        NotRecorded_.Reason = lost;
        // Told once, not at every pass: the Activity window keeps saying it meanwhile.
        if (!NotRecorded_.Told) {
            NotRecorded_.Told = true;
            if (!text.isEmpty())
                text += QStringLiteral("\n");
            text += QStringLiteral("The history cannot record passes: %1. The files are moved "
                                   "all the same.")
                        .arg(AnsiToQString(lost));
        }
    } else if (pass.PassId != 0) {
        NotRecorded_ = NotRecorded();
    }
    if (!text.isEmpty())
        Show_(QStringLiteral("Ferrydesk"), text);
}

} // namespace ferry
