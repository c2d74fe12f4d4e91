#pragma once

// The Activity window: what the passes did with each file.

#include <QWidget>
#include <vector>

#include "activity/activity_store.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace ferry {

class TApplication;

// "Ferrydesk - Activity": what the passes did with each file, newest first, with one summary
// line per pass above. A moved file can be moved back from here. Opened from the main
// window's Activity link and by clicking the notification shown after a pass; it only reads
// the history and never pauses the scheduler.
class TFRM_Activity : public QWidget {
    Q_OBJECT
public:
    // Without a store (its database could not be opened) the window says so and offers nothing.
    TFRM_Activity(TApplication& app, ActivityStore* store, QWidget* parent = nullptr);

    // Reads the history again, keeping the filters and the selected entry where they still
    // apply.
    void Refresh();
    // Shows the window in front, read afresh.
    void Show();

    // What the main window knows of passes the history could not take: why (plain words),
    // since when and how many. An empty reason means all is well again. Without a store the
    // reason is why it could not be opened.
    void SetRecordingProblem(const std::string& reason, int64_t sinceMs, int passes);
    // The passes' health (ui/pass_health.h), right of the filters.
    void SetPassHealth(const QString& text);

    // The Outcome filter's entry for files moved back since.
    static constexpr int kMovedBackFilter = -2;

    // The entries the list shows, in its order (one per row).
    const std::vector<ActivityEntry>& Shown() const { return Shown_; }
    // The entry of the selected row, or null.
    const ActivityEntry* Selected() const;

    void BTN_MoveBackClick();
    void BTN_ClearClick();
    void CHK_NotifyClick();
    void CHK_AutostartClick();
    void FilterChanged();

    // Column order of the list.
    enum Column { ColTime, ColTask, ColFile, ColRoute, ColOutcome, ColCount };
    // The texts a row shows for an entry.
    static QString TimeText(int64_t ms);
    static QString RouteText(const FileOutcome& outcome);
    static QString OutcomeText(const ActivityEntry& entry);

    QLabel* LBL_Passes;
    QListWidget* LST_Passes;
    QLabel* LBL_Task;
    QComboBox* CMB_Task;
    QLabel* LBL_Kind;
    QComboBox* CMB_Kind;
    QTableWidget* STG_Activity;
    QLabel* LBL_Unavailable;
    QLabel* LBL_NotRecorded; // right of the passes' caption, shown while passes are lost
    QLabel* LBL_Health;      // right of the filters: the last pass and the next timed one
    QPushButton* BTN_MoveBack;
    QPushButton* BTN_Clear;
    QCheckBox* CHK_Notify;
    QCheckBox* CHK_Autostart;
    QPushButton* BTN_Close;

private:
    void FillTasks();
    void FillPasses();
    void FillEntries();
    void SelectionChanged();

    TApplication& App_;
    ActivityStore* Store_;
    std::vector<ActivityEntry> Shown_;
    bool Filling_ = false; // the combos are being refilled: their changes are not the user's
};

} // namespace ferry
