#include "ui/tray_balloon.h"

#include "ui/ansi_text.h"

namespace ferry {

void TrayBalloon::PassEnded(const PassEnd& end) {
    if (end.Summary.Empty() || (Wanted_ && !Wanted_()))
        return;
    Show_(QStringLiteral("Ferrydesk"), AnsiToQString(end.Summary.Text()));
}

} // namespace ferry
