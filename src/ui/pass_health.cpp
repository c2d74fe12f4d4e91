#include "ui/pass_health.h"

#include <QDateTime>

#include "ui/ansi_text.h"

namespace ferry {

namespace {

QString At(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

QString PassHealthText(const RecordedPass* last, int64_t nextMs) {
    QString text;
    if (!last) {
        text = QStringLiteral("No pass yet.");
    } else {
        const std::string did = last->Summary.Text();
        text = QStringLiteral("Last pass %1: %2.")
                   .arg(At(last->StartMs),
                        did.empty() ? QStringLiteral("nothing to do") : AnsiToQString(did));
    }
    if (nextMs >= 0)
        text += QStringLiteral(" Next timed pass %1.").arg(At(nextMs));
    else
        text += QStringLiteral(" Timed passes are stopped.");
    return text;
}

} // namespace ferry
