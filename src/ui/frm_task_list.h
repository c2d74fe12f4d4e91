#pragma once

// The main window: the task grid, the interval, the timer and the tray icon.

#include <QWidget>
#include <memory>

#include "activity/pass_history.h"
#include "core/scheduler.h"
#include "core/task_changes.h"
#include "core/task_table.h"
#include "mail/mail_notifier.h"
#include "settings/settings_store.h"
#include "ui/task_table_saver.h"
#include "ui/tray_balloon.h"

class QLabel;
class QLineEdit;
class QTimer;
class QPushButton;
class QSystemTrayIcon;
class QTableView;

namespace ferry {

class ActivityStore;
class TApplication;
class TFRM_AddTask;
class TFRM_EditTask;
class TFRM_Options;
class TaskTableModel;
class PassRunner;
class TFRM_Activity;
class WatchTrigger;
class StoredTableFollower;

// Mouse codes the tray icon reports to the window's tray handler.
constexpr int WM_LBUTTONDOWN = 0x201;
constexpr int WM_RBUTTONDOWN = 0x204;

// The main window: the task grid, the interval, the scheduler timer and the tray icon.
class TFRM_TaskList : public QWidget {
    Q_OBJECT
public:
    explicit TFRM_TaskList(TApplication& app, QWidget* parent = nullptr);
    ~TFRM_TaskList() override;

    // Digits and backspace pass; every other character is dropped (returns 0).
    static char FilterDigitKey(char key);

    // Makes the window visible (its show handler runs when it was hidden) and brings it to
    // the front.
    void Show();

    // The dialogs the window opens: what they hand back lands in the table, and their closing
    // shows this window again.
    void ConnectDialogs(TFRM_AddTask& add, TFRM_EditTask& edit, TFRM_Options& options);

    TaskTable& Table() { return Table_; }
    Scheduler& Scheduler1() { return Scheduler_; }
    IntervalTimer& Timer1() { return *Timer1_; }
    // Runs the passes away from the windows; while one runs the actions that would change the
    // table or the settings are disabled and the grid shows the busy cursor.
    PassRunner& Runner() { return *Runner_; }
    // Passes of files as they arrive in the source folders, when WatchFolders is on.
    WatchTrigger& Watch() { return *Watch_; }
    bool PassRunning() const { return Scheduler_.PassRunning(); }
    // The history of what the passes did; null when it could not be opened (the passes run
    // all the same, unrecorded).
    ActivityStore* Activity() { return Activity_.get(); }
    bool TrayAvailable() const;
    // Whether the stored tasks were read in full (or there were none to read): until then the
    // table is not written back, so a start-up that failed half-way cannot shrink the store.
    bool LoadCompleted() const { return Load_.Completed; }

    // Handlers, named after their control and event.
    void FormCreate();
    void FormShow();
    void FormCloseQuery(bool& canClose);
    void FormClose();
    void FormDestroy();
    void TrayMessage(int mouseCode);
    void BTN_TimerSetClick();
    void BTN_RunNowClick();
    void BTN_AddNewTaskClick();
    void BTN_EditTaskClick();
    void BTN_DelTaskClick();
    void BTN_OptionsClick();
    void BTN_MinOKClick();
    void STG_TaskListClick();
    void Timer1Timer();
    // The Activity link and a click on the notification: open the Activity window, or bring
    // it to the front.
    void LBL_ActivityClick();
    // After every pass, once the history and the tray balloon have it: the Activity window
    // reads the history again, and says whether passes go unrecorded.
    void PassRecorded();
    // While task changes wait for a store another program holds: saves them once it lets go.
    void StoreRetryTimer();
    // The program ends without the user (a signal): the pass is called off and the task
    // changes get one more try. Returns what could not be saved ("" when nothing).
    std::string FormTerminate();

    QLabel* LBL_TimeInterval;
    QLineEdit* TXT_TimeInterval;
    QPushButton* BTN_TimerSet;
    QTableView* STG_TaskList;
    QPushButton* BTN_RunNow;
    QPushButton* BTN_AddNewTask;
    QPushButton* BTN_EditTask;
    QPushButton* BTN_DelTask;
    QPushButton* BTN_Options;
    QPushButton* BTN_MinOK;
    QLabel* lbl_copyright;
    QLabel* LBL_Activity; // a link in the free space right of the notice
    QSystemTrayIcon* TrayIcon = nullptr;
    TFRM_Activity* FRM_Activity = nullptr; // made when first opened
    QTimer* StoreRetry = nullptr;          // runs while a save waits for a busy store

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool RestoreMinimisedDialog();
    void SaveTable();
    void LoadedLate(const TStartupLoad& load);
    void ShowCurrentRow();
    void LimitIntervalText();
    void ShowPassRunning(bool running);
    void ShowTrayMessage(const QString& title, const QString& text);
    void ShowRecordingProblem();

    TApplication& App_;
    TFRM_AddTask* AddTask_ = nullptr;
    TFRM_EditTask* EditTask_ = nullptr;
    TFRM_Options* Options_ = nullptr;
    TaskTable Table_;
    TaskTableModel* Model_;
    std::unique_ptr<IntervalTimer> Timer1_;
    std::string ActivityOpenError_;           // why the history could not be opened
    std::unique_ptr<ActivityStore> Activity_; // outlives the runner's thread (Stop in ~)
    Scheduler Scheduler_;
    // What every pass is told: on the worker, the history and the mail; on this thread, once
    // it has ended, the tray balloon and the Activity window.
    PassHistory History_;
    MailNotifier Mail_;
    PassObservers OnWorker_;
    TrayBalloon Balloon_;
    struct ActivityRefresh : PassObserver {
        explicit ActivityRefresh(TFRM_TaskList& window) : Window(window) {}
        void PassEnded(const PassEnd&) override { Window.PassRecorded(); }
        TFRM_TaskList& Window;
    } Refresh_;
    PassObservers OnWindows_;
    PassRunner* Runner_;
    WatchTrigger* Watch_;
    TStartupLoad Load_;
    TaskChanges Changes_; // what this copy changed since it last read the stored table
    TaskTableSaver Saver_;
    StoredTableFollower* Follower_;
    bool SyncingRow_ = false;
    QString IntervalText_; // the interval field's text before the latest change
    bool Placed_ = false;  // centred on the screen at its first show
};

} // namespace ferry
