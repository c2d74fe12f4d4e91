#include "ui/watch_panel.h"

#include <QCheckBox>
#include <QLabel>
#include <QStringList>
#include <QStyle>

#include "core/watch_text.h"
#include "settings/watch_setting.h"
#include "ui/ansi_text.h"
#include "ui/guard.h"
#include "ui/watch_trigger.h"

namespace ferry {

namespace {

void ShowWatch(QCheckBox& check, QLabel& line, const WatchTrigger& watch) {
    check.setChecked(watch.On());
    const std::vector<FolderWatchStatus> statuses = watch.Statuses();
    line.setVisible(watch.On());
    line.setText(AnsiToQString(WatchSummary(statuses)));
    // Each folder in the tip, so that one passed at the interval only says why.
    QStringList tip;
    for (const FolderWatchStatus& status : statuses)
        tip << AnsiToQString(WatchStateText(status));
    line.setToolTip(tip.join(QLatin1Char('\n')));
}

} // namespace

void AddWatchPanel(QWidget& activity, WatchTrigger& watch) {
    auto* check = new QCheckBox(QStringLiteral("Route files as they &arrive"), &activity);
    check->setObjectName(QStringLiteral("CHK_Watch"));
    check->setGeometry(440, 359, check->sizeHint().width(), 17);
    auto* line = new QLabel(&activity);
    line->setObjectName(QStringLiteral("LBL_Watch"));
    // Under the check box's words, not its box.
    const int indent = check->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, check) +
                       check->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, check);
    line->setGeometry(440 + indent, 377, 230 - indent, 17);
    ShowWatch(*check, *line, watch);
    QObject::connect(check, &QCheckBox::clicked, line, Guarded([&watch](bool on) {
                         WriteWatchFolders(on);
                         watch.SetOn(on);
                     }));
    QObject::connect(&watch, &WatchTrigger::StatusChanged, line,
                     Guarded([check, line, &watch] { ShowWatch(*check, *line, watch); }));
}

} // namespace ferry
