#include "ui/frm_task_list.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <algorithm>

#include "activity/activity_store.h"
#include "activity/pass_history.h"
#include "base/text.h"
#include "core/case_sensitive_match.h"
#include "core/engine.h"
#include "extract/program_pass_rules.h"
#include "settings/settings_store.h"
#include "settings/watch_setting.h"
#include "ui/ansi_text.h"
#include "ui/application.h"
#include "ui/form_style.h"
#include "ui/frm_activity.h"
#include "ui/frm_add_task.h"
#include "ui/frm_edit_task.h"
#include "ui/frm_options.h"
#include "ui/guard.h"
#include "ui/interval_field.h"
#include "ui/pass_health.h"
#include "ui/pass_runner.h"
#include "ui/qt_interval_timer.h"
#include "ui/stored_table_follower.h"
#include "ui/task_table_model.h"
#include "ui/user_prompts.h"
#include "ui/watch_panel.h"
#include "ui/watch_trigger.h"

namespace ferry {

namespace {

constexpr int kColumnWidths[TaskTable::ColCount] = {26, 89, 97, 91, 94};
constexpr int kRowHeight = 18;

std::unique_ptr<ActivityStore> OpenActivity(std::string& why) {
    try {
        return std::make_unique<ActivityStore>(ActivityStore::DefaultPath());
    } catch (const std::exception& e) {
        why = e.what();
        NoteHistoryFailure(e.what());
        return nullptr;
    }
}

// Earlier versions kept the desktop-notification switch in the history; it is carried into the
// settings once, unless they have one of their own by then.
void CarryOverNotificationSwitch(ActivityStore* history) {
    if (!history || !SettingsKeyExists())
        return;
    try {
        history->CarryDesktopNotifications([](bool on) {
            if (!DesktopNotificationsStored())
                WriteDesktopNotifications(on);
        });
    } catch (const std::exception& e) {
        NoteHistoryFailure(e.what());
    }
}

// How often a store another program holds is looked at: a save waits at most this long
// after it lets go.
constexpr int kStoreRetryMs = 500;

std::unique_ptr<IntervalTimer> MakeTimer(const TApplication& app, QObject* owner,
                                         std::function<void()> onTick) {
    const auto& make = app.Environment().MakeTimer;
    if (make)
        return make(owner, std::move(onTick));
    return std::make_unique<QtIntervalTimer>(owner, std::move(onTick));
}

} // namespace

TFRM_TaskList::TFRM_TaskList(TApplication& app, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      App_(app), Model_(new TaskTableModel(Table_, this)),
      Timer1_(MakeTimer(app, this, Guarded([this] { Timer1Timer(); }))),
      Activity_(OpenActivity(ActivityOpenError_)), Scheduler_(*Timer1_),
      History_(Activity_.get()), OnWorker_{&Mail_, &History_},
      Balloon_(History_, ActivityOpenError_,
               [this](const QString& title, const QString& text) { ShowTrayMessage(title, text); }),
      Refresh_(*this), OnWindows_{&Balloon_, &Refresh_},
      Runner_(new PassRunner(Scheduler_, OnWorker_, OnWindows_, this)),
      Watch_(new WatchTrigger(
          *Runner_, Scheduler_, [this] { return TaskRowsForPass(Table_); }, this)),
      Follower_(new StoredTableFollower(Table_, Changes_, this)) {
    setObjectName(QStringLiteral("FRM_TaskList"));
    setWindowTitle(QStringLiteral("Ferrydesk by Quillmere"));
    setFont(FormFont(QStringLiteral("MS Sans Serif")));
    setFixedSize(521, 247);
    setWindowIcon(App_.Icon);

    LBL_TimeInterval = new QLabel(QStringLiteral("Schedule File Scan Interval (mins):"), this);
    LBL_TimeInterval->setObjectName(QStringLiteral("LBL_TimeInterval"));
    LBL_TimeInterval->setGeometry(8, 14, 163, 13);

    TXT_TimeInterval = new QLineEdit(this);
    TXT_TimeInterval->setObjectName(QStringLiteral("TXT_TimeInterval"));
    TXT_TimeInterval->setGeometry(176, 8, 31, 21);
    // Two characters at most as typed (see eventFilter). Not QLineEdit's own limit: that
    // would also cut a longer stored interval when it is shown, so the field would show a
    // number other than the one in force.
    TXT_TimeInterval->installEventFilter(this);
    // Pasted text passes no key filter, but it is held to the two characters all the same.
    connect(TXT_TimeInterval, &QLineEdit::textChanged, this,
            Guarded([this] { LimitIntervalText(); }));

    BTN_TimerSet = MakeButton(this, "BTN_TimerSet", "&Set", 214, 8, 75, 26);

    STG_TaskList = new QTableView(this);
    STG_TaskList->setObjectName(QStringLiteral("STG_TaskList"));
    STG_TaskList->setGeometry(8, 41, 405, 179);
    STG_TaskList->setModel(Model_);
    STG_TaskList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    STG_TaskList->setSelectionBehavior(QAbstractItemView::SelectRows);
    STG_TaskList->setSelectionMode(QAbstractItemView::SingleSelection);
    STG_TaskList->setWordWrap(false);
    STG_TaskList->setTextElideMode(Qt::ElideNone);
    STG_TaskList->setCornerButtonEnabled(false);
    QHeaderView* headings = STG_TaskList->horizontalHeader();
    headings->setSectionResizeMode(QHeaderView::Fixed);
    headings->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    headings->setHighlightSections(false);
    headings->setSectionsClickable(false);
    headings->setFixedHeight(kRowHeight);
    for (int col = 1; col < TaskTable::ColCount; ++col)
        headings->resizeSection(col - 1, kColumnWidths[col]);
    QHeaderView* numbers = STG_TaskList->verticalHeader();
    numbers->setSectionResizeMode(QHeaderView::Fixed);
    numbers->setDefaultSectionSize(kRowHeight);
    numbers->setMinimumSectionSize(kRowHeight);
    numbers->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    numbers->setHighlightSections(false);
    numbers->setSectionsClickable(false);
    numbers->setFixedWidth(kColumnWidths[0]);

    BTN_RunNow = MakeButton(this, "BTN_RunNow", "&Run Tasks Now", 420, 41, 93, 26);
    BTN_AddNewTask = MakeButton(this, "BTN_AddNewTask", "&Add New Task", 420, 70, 93, 26);
    BTN_EditTask = MakeButton(this, "BTN_EditTask", "&Edit Task", 420, 98, 93, 26);
    BTN_DelTask = MakeButton(this, "BTN_DelTask", "&Delete Task", 420, 126, 93, 26);
    BTN_Options = MakeButton(this, "BTN_Options", "&Options", 420, 155, 93, 26);
    BTN_MinOK = MakeButton(this, "BTN_MinOK", "&Minimise to\nSystem Tray", 420, 184, 93, 36);

    lbl_copyright = new QLabel(this);
    lbl_copyright->setObjectName(QStringLiteral("lbl_copyright"));
    lbl_copyright->setGeometry(8, 226, 269, 13);

    // In the bottom line's free space, its right edge with the buttons'. A mouse target
    // only: the tab order stays as the window always had it.
    LBL_Activity = new QLabel(this);
    LBL_Activity->setObjectName(QStringLiteral("LBL_Activity"));
    LBL_Activity->setGeometry(440, 226, 73, 13);
    LBL_Activity->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LBL_Activity->setTextFormat(Qt::RichText);
    LBL_Activity->setText(QString::fromUtf8("<a href=\"activity\">Activity…</a>"));
    LBL_Activity->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    LBL_Activity->setFocusPolicy(Qt::NoFocus);
    LBL_Activity->setToolTip(QStringLiteral("What the passes did with each file"));

    setTabOrder(TXT_TimeInterval, BTN_TimerSet);
    setTabOrder(BTN_TimerSet, BTN_AddNewTask);
    setTabOrder(BTN_AddNewTask, BTN_EditTask);
    setTabOrder(BTN_EditTask, BTN_DelTask);
    setTabOrder(BTN_DelTask, BTN_Options);
    setTabOrder(BTN_Options, BTN_MinOK);
    setTabOrder(BTN_MinOK, STG_TaskList);
    setTabOrder(STG_TaskList, BTN_RunNow);

    connect(BTN_TimerSet, &QPushButton::clicked, this, Guarded([this] { BTN_TimerSetClick(); }));
    connect(BTN_RunNow, &QPushButton::clicked, this, Guarded([this] { BTN_RunNowClick(); }));
    connect(BTN_AddNewTask, &QPushButton::clicked, this,
            Guarded([this] { BTN_AddNewTaskClick(); }));
    connect(BTN_EditTask, &QPushButton::clicked, this, Guarded([this] { BTN_EditTaskClick(); }));
    connect(BTN_DelTask, &QPushButton::clicked, this, Guarded([this] { BTN_DelTaskClick(); }));
    connect(BTN_Options, &QPushButton::clicked, this, Guarded([this] { BTN_OptionsClick(); }));
    connect(BTN_MinOK, &QPushButton::clicked, this, Guarded([this] { BTN_MinOKClick(); }));
    connect(STG_TaskList, &QTableView::clicked, this, Guarded([this] { STG_TaskListClick(); }));
    connect(STG_TaskList, &QTableView::doubleClicked, this,
            Guarded([this] { BTN_EditTaskClick(); }));
    connect(STG_TaskList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            Guarded([this](const QModelIndex& current, const QModelIndex&) {
                if (!SyncingRow_ && current.isValid() && current.row() + 1 != Table_.Row()) {
                    SyncingRow_ = true;
                    Follower_->CurrentRowChosen();
                    Table_.SetRow(current.row() + 1);
                    SyncingRow_ = false;
                    ShowCurrentRow();
                }
            }));
    connect(Model_, &TaskTableModel::TableReset, this, Guarded([this] {
                ShowCurrentRow();
                Watch_->TasksChanged();
            }));
    connect(Model_, &TaskTableModel::CurrentRowMoved, this, Guarded([this] { ShowCurrentRow(); }));
    connect(LBL_Activity, &QLabel::linkActivated, this, Guarded([this] { LBL_ActivityClick(); }));

    StoreRetry = new QTimer(this);
    StoreRetry->setObjectName(QStringLiteral("StoreRetry"));
    StoreRetry->setInterval(kStoreRetryMs);
    connect(StoreRetry, &QTimer::timeout, this, Guarded([this] { StoreRetryTimer(); }));

    Runner_->OnRunningChanged = [this](bool running) {
        ShowPassRunning(running);
        if (!running)
            Watch_->Later();
    };
    Scheduler_.OnResumed = [this] { Watch_->Later(); };
    Watch_->RunTimedPass = [this] { Timer1Timer(); };
    // Told before the history writes the pass: a notification that failed is in it.
    Mail_.OnNotSent = [this](const FileOutcome& o) { History_.FileEnded(o); };
    Follower_->CanFollow = [this] { return Load_.Completed; };
    Follower_->OnInterval = [this](int32_t minutes) {
        TXT_TimeInterval->setText(QString::number(minutes));
        Scheduler_.SetIntervalMinutes(minutes);
    };
    if (PassObserver* watcher = App_.Environment().PassWatcher)
        OnWorker_.Add(*watcher);

    // As laid out: the timer runs with a 30-second period until the creation handler sets
    // the stored one.
    Timer1_->SetInterval(30000);
    Timer1_->SetEnabled(true);
}

TFRM_TaskList::~TFRM_TaskList() {
    // The pass may not outlive the window whose scheduler it reports to.
    Runner_->Stop();
    delete FRM_Activity;
    FRM_Activity = nullptr;
    RunGuarded([this] { FormDestroy(); });
    // The model watches the table, which goes before QWidget deletes the children.
    STG_TaskList->setModel(nullptr);
    delete Model_;
    Model_ = nullptr;
}

bool TFRM_TaskList::TrayAvailable() const {
    const auto& available = App_.Environment().TrayAvailable;
    return available ? available() : QSystemTrayIcon::isSystemTrayAvailable();
}

char TFRM_TaskList::FilterDigitKey(char key) {
    return IntervalKey(key);
}

void TFRM_TaskList::ShowCurrentRow() {
    if (SyncingRow_)
        return;
    SyncingRow_ = true;
    const QModelIndex current = Model_->index(Table_.Row() - 1, TaskTable::ColCount - 2);
    if (current.isValid() && STG_TaskList->currentIndex() != current)
        STG_TaskList->selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    SyncingRow_ = false;
}

void TFRM_TaskList::LimitIntervalText() {
    QString now = TXT_TimeInterval->text();
    // Text set by the program is shown whole; what the user puts in only fills the room left.
    if (TXT_TimeInterval->isModified()) {
        int cursor = -1;
        const QString fitted = FitTypedInterval(IntervalText_, now, cursor);
        if (cursor >= 0) {
            now = fitted;
            IntervalText_ = now;
            TXT_TimeInterval->setText(now);
            TXT_TimeInterval->setCursorPosition(cursor);
        }
    }
    IntervalText_ = now;
}

void TFRM_TaskList::Show() {
    if (!Placed_) {
        Placed_ = true;
        CentreOnScreen(this);
    }
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void TFRM_TaskList::ConnectDialogs(TFRM_AddTask& add, TFRM_EditTask& edit, TFRM_Options& options) {
    AddTask_ = &add;
    EditTask_ = &edit;
    Options_ = &options;
    add.OnTaskEntered = [this](const TaskRecord& task) {
        Table_.AppendTask(task);
        Changes_.Appended();
    };
    // Into the row current when the dialog hands it back, as the grid shows it then; a task
    // deleted by another copy meanwhile stays deleted.
    edit.OnTaskEntered = [this](const TaskRecord& task) {
        if (Follower_->CurrentTaskGone() || !Table_.IsTaskRow(Table_.Row()))
            return;
        Table_.ReplaceTask(Table_.Row(), task);
        Changes_.Replaced(Table_.Row());
    };
    for (TaskEntryForm* dialog :
         {static_cast<TaskEntryForm*>(&add), static_cast<TaskEntryForm*>(&edit)})
        dialog->OnClosed = [this] { Show(); };
    options.OnClosed = [this] { Show(); };
}

void TFRM_TaskList::FormCreate() {
    TrayIcon = new QSystemTrayIcon(this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->setIcon(App_.Icon);
    TrayIcon->setToolTip(QStringLiteral("Ferrydesk"));
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            Guarded([this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    TrayMessage(WM_LBUTTONDOWN);
                else if (reason == QSystemTrayIcon::Context)
                    TrayMessage(WM_RBUTTONDOWN);
            }));
    connect(TrayIcon, &QSystemTrayIcon::messageClicked, this,
            Guarded([this] { LBL_ActivityClick(); }));
    TrayIcon->show();

    int32_t interval = 10;
    CaseSensitiveMatch = false;
    lbl_copyright->setText(QStringLiteral("Ferrydesk - a Quillmere utility. All rights reserved."));
    Table_.WriteHeadings();
    LoadStartupSettings(Table_, Load_);
    Changes_.Reset(TableRows(Table_));
    Follower_->Loaded(Load_.ProcessInterval);
    CarryOverNotificationSwitch(Activity());
    interval = Load_.ProcessInterval.value_or(interval);
    TXT_TimeInterval->setText(QString::number(interval));
    Scheduler_.SetIntervalMinutes(interval);
    Watch_->SetOn(ReadWatchFolders());
}

void TFRM_TaskList::SaveTable() {
    struct Watch {
        TFRM_TaskList* Self;
        // However the save ends: a store held by another program is watched until it is free.
        ~Watch() {
            if (Self->Saver_.WaitingForBusyStore())
                Self->StoreRetry->start();
            else
                Self->StoreRetry->stop();
        }
    } watch{this};
    Saver_.Save(Table_, Load_, Changes_, App_.Prompts(),
                [this](const TStartupLoad& load) { LoadedLate(load); });
}

void TFRM_TaskList::StoreRetryTimer() {
    if (!Saver_.WaitingForBusyStore()) {
        StoreRetry->stop();
        return;
    }
    // Looked at without waiting: the save itself would wait for the store, with the window.
    if (!SettingsStoreBusy())
        SaveTable();
}

std::string TFRM_TaskList::FormTerminate() {
    Runner_->Cancel();
    StoreRetry->stop();
    const std::string unsaved = Saver_.LastTry(Table_, Load_, Changes_);
    if (TrayIcon)
        TrayIcon->hide();
    return unsaved;
}

// The store could not be read at start, and now has been: the interval the creation could not
// show comes from it, unless the user has set one meanwhile.
void TFRM_TaskList::LoadedLate(const TStartupLoad& load) {
    Follower_->Loaded(load.ProcessInterval);
    if (TXT_TimeInterval->text().isEmpty() && load.ProcessInterval) {
        TXT_TimeInterval->setText(QString::number(*load.ProcessInterval));
        Scheduler_.SetIntervalMinutes(*load.ProcessInterval);
    }
}

void TFRM_TaskList::FormShow() {
    Scheduler_.Pause();
    SaveTable();
    Scheduler_.Resume();
}

void TFRM_TaskList::FormCloseQuery(bool& canClose) {
    UserPrompts& prompts = App_.Prompts();
    Saver_.BeforeQuit(Table_, Load_, Changes_, prompts,
                      [this](const TStartupLoad& load) { LoadedLate(load); });
    canClose = prompts.MessageDlg("Do you really want to Quit the Program?",
                                  TMsgDlgType::mtConfirmation, Btn(mbYes) | Btn(mbNo)) != mrNo;
}

void TFRM_TaskList::FormClose() {
    // The program ends: a pass under way stops waiting at once (its current move finishes).
    Runner_->Cancel();
    if (TrayIcon)
        TrayIcon->hide();
}

void TFRM_TaskList::FormDestroy() {
    if (TrayIcon)
        TrayIcon->hide();
}

void TFRM_TaskList::TrayMessage(int mouseCode) {
    if (mouseCode == WM_LBUTTONDOWN && RestoreMinimisedDialog())
        return;
    if (mouseCode == WM_LBUTTONDOWN)
        Show();
    else if (mouseCode == WM_RBUTTONDOWN && TrayAvailable())
        hide();
}

// The dialogs offer no minimise, but a window manager may minimise one anyway; with the
// main window hidden meanwhile, the tray icon is the only way back to it.
bool TFRM_TaskList::RestoreMinimisedDialog() {
    for (QWidget* dialog : {static_cast<QWidget*>(AddTask_), static_cast<QWidget*>(EditTask_),
                            static_cast<QWidget*>(Options_)}) {
        if (dialog && dialog->isVisible() && dialog->isMinimized()) {
            dialog->setWindowState(dialog->windowState() & ~Qt::WindowMinimized);
            dialog->show();
            dialog->raise();
            dialog->activateWindow();
            return true;
        }
    }
    return false;
}

void TFRM_TaskList::ShowPassRunning(bool running) {
    // Greyed, not hidden: the window keeps its layout and texts.
    for (QPushButton* button :
         {BTN_TimerSet, BTN_RunNow, BTN_AddNewTask, BTN_EditTask, BTN_DelTask, BTN_Options})
        button->setEnabled(!running);
    // A dialog left open while the window came back from the tray waits as well.
    if (AddTask_)
        AddTask_->BTN_AddTask->setEnabled(!running);
    if (EditTask_)
        EditTask_->BTN_AddTask->setEnabled(!running);
    if (Options_)
        Options_->BTN_Apply->setEnabled(!running);
    if (running)
        STG_TaskList->setCursor(Qt::BusyCursor);
    else
        STG_TaskList->unsetCursor();
}

void TFRM_TaskList::LBL_ActivityClick() {
    if (!FRM_Activity) {
        FRM_Activity = new TFRM_Activity(App_, Activity());
        AddWatchPanel(*FRM_Activity, *Watch_);
    }
    ShowRecordingProblem();
    FRM_Activity->Show();
}

void TFRM_TaskList::ShowRecordingProblem() {
    if (!FRM_Activity)
        return;
    const RecordedPass last = History_.LastPass();
    const int64_t remaining = Timer1_->Enabled() ? Timer1_->RemainingMs() : -1;
    FRM_Activity->SetPassHealth(
        PassHealthText(last.StartMs ? &last : nullptr,
                       remaining >= 0 ? QDateTime::currentMSecsSinceEpoch() + remaining : -1));
    const TrayBalloon::NotRecorded& problem = Balloon_.RecordingProblem();
    if (!Activity())
        FRM_Activity->SetRecordingProblem(ActivityOpenError_, 0, 0);
    else
        FRM_Activity->SetRecordingProblem(problem.Reason, problem.SinceMs, problem.Passes);
}

void TFRM_TaskList::PassRecorded() {
    ShowRecordingProblem();
    if (FRM_Activity && FRM_Activity->isVisible())
        FRM_Activity->Refresh();
}

void TFRM_TaskList::ShowTrayMessage(const QString& title, const QString& text) {
    if (const auto& show = App_.Environment().ShowTrayMessage)
        show(title, text);
    else if (TrayIcon)
        TrayIcon->showMessage(title, text);
}

void TFRM_TaskList::BTN_TimerSetClick() {
    if (PassRunning())
        return;
    const int32_t minutes = StrToInt(QStringToAnsi(TXT_TimeInterval->text()));
    Scheduler_.SetIntervalMinutes(minutes);
    if (WriteProcessInterval(minutes))
        Follower_->IntervalWritten(minutes);
}

void TFRM_TaskList::BTN_RunNowClick() {
    if (PassRunning())
        return; // never a second pass beside the running one
    // What another copy stored since counts: a task deleted there is not routed here.
    Follower_->Follow();
    // The pass gets its own copy of the rows and of the rules: nothing it reads can change
    // under it while the windows go on.
    const PassRules rules = ProgramPassRules();
    if (Runner_->Start(TaskRowsForPass(Table_), rules))
        Watch_->FullPassStarted();
}

void TFRM_TaskList::Timer1Timer() {
    if (PassRunning()) { // only a pass of arrived files runs beside a running timer
        Watch_->TimedPassOwed();
        return;
    }
    if (Saver_.Pending()) // a save the store was too busy for: another try; the pass runs anyway
        RunGuarded([this] { SaveTable(); });
    BTN_RunNowClick();
}

void TFRM_TaskList::BTN_AddNewTaskClick() {
    if (PassRunning())
        return;
    // The store loads at most this many tasks at start; one more would be dropped then.
    if (Table_.LastTaskRow() >= MaxTaskEntries) {
        App_.Prompts().MessageDlg(
            Format("The task list is full: it holds at most %d tasks", MaxTaskEntries),
            TMsgDlgType::mtCustom, Btn(mbOK));
        return;
    }
    Scheduler_.Pause();
    hide();
    AddTask_->Show();
}

void TFRM_TaskList::BTN_EditTaskClick() {
    if (PassRunning())
        return;
    Scheduler_.Pause();
    if (!Table_.IsTaskRow(Table_.Row())) {
        Scheduler_.Resume();
        return;
    }
    hide();
    Follower_->CurrentRowChosen();
    EditTask_->ShowTask(Table_.TaskAt(Table_.Row()));
}

void TFRM_TaskList::BTN_DelTaskClick() {
    if (PassRunning())
        return;
    Scheduler_.Pause();
    if (Table_.IsTaskRow(Table_.Row())) {
        Changes_.Deleted(Table_.Row());
        Table_.DeleteTask(Table_.Row());
        SaveTable();
    }
    Scheduler_.Resume();
}

void TFRM_TaskList::BTN_OptionsClick() {
    if (PassRunning())
        return;
    Scheduler_.Pause();
    hide();
    Options_->Show();
}

void TFRM_TaskList::BTN_MinOKClick() {
    // Without a tray there would be no way back to a hidden window: use the taskbar.
    if (TrayAvailable())
        hide();
    else
        showMinimized();
}

void TFRM_TaskList::STG_TaskListClick() {
    const int row = Table_.Row() - 1;
    STG_TaskList->selectionModel()->select(
        Model_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    STG_TaskList->selectionModel()->setCurrentIndex(Model_->index(row, TaskTable::ColCount - 2),
                                                    QItemSelectionModel::NoUpdate);
}

void TFRM_TaskList::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        RunGuarded([this] { FormShow(); });
}

void TFRM_TaskList::closeEvent(QCloseEvent* event) {
    if (App_.Terminated()) {
        // The program is already ending; nothing is asked any more.
        RunGuarded([this] { FormClose(); });
        event->accept();
        return;
    }
    event->ignore();
    RunGuarded([&] {
        bool canClose = true;
        FormCloseQuery(canClose);
        if (!canClose)
            return;
        FormClose();
        event->accept();
        App_.Terminate();
    });
}

bool TFRM_TaskList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TXT_TimeInterval && event->type() == QEvent::KeyPress &&
        RefuseIntervalKey(*static_cast<QKeyEvent*>(event), *TXT_TimeInterval))
        return true;
    return QWidget::eventFilter(watched, event);
}

} // namespace ferry
