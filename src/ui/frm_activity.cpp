#include "ui/frm_activity.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>

#include "core/move_back.h"
#include "platform/autostart.h"
#include "settings/settings_store.h"
#include "ui/ansi_text.h"
#include "ui/application.h"
#include "ui/form_style.h"
#include "ui/guard.h"
#include "ui/user_prompts.h"

namespace ferry {

namespace {

constexpr int kRowHeight = 18;
constexpr int kColumnWidths[TFRM_Activity::ColCount] = {112, 95, 140, 250, 130};
constexpr int kRecentPasses = 50;

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* FilterCaption(QWidget* parent, const char* name, const char* text, int x, int y,
                      QWidget* buddy) {
    QLabel* label = MakeLabel(parent, name, text, x, y + 3);
    label->setBuddy(buddy);
    return label;
}

} // namespace

TFRM_Activity::TFRM_Activity(TApplication& app, ActivityStore* store, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      App_(app), Store_(store) {
    setObjectName(QStringLiteral("FRM_Activity"));
    setWindowTitle(QStringLiteral("Ferrydesk - Activity"));
    setFont(FormFont(QStringLiteral("Tahoma")));
    setFixedSize(760, 398);
    setWindowIcon(App_.Icon);

    LBL_Passes = MakeLabel(this, "LBL_Passes", "Recent passes", 8, 8, true);
    LST_Passes = new QListWidget(this);
    LST_Passes->setObjectName(QStringLiteral("LST_Passes"));
    LST_Passes->setGeometry(8, 24, 744, 74);
    LST_Passes->setSelectionMode(QAbstractItemView::NoSelection);
    LST_Passes->setFocusPolicy(Qt::NoFocus);
    LST_Passes->setTextElideMode(Qt::ElideRight);

    LBL_Unavailable = new QLabel(this);
    LBL_Unavailable->setObjectName(QStringLiteral("LBL_Unavailable"));
    LBL_Unavailable->setGeometry(8, 24, 744, 74);
    LBL_Unavailable->setWordWrap(true);
    LBL_Unavailable->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LBL_Unavailable->setVisible(false);

    // Beside the caption, in the line's free space: the list below it is not complete.
    LBL_NotRecorded = new QLabel(this);
    LBL_NotRecorded->setObjectName(QStringLiteral("LBL_NotRecorded"));
    const int besideCaption = LBL_Passes->x() + LBL_Passes->width() + 12;
    LBL_NotRecorded->setGeometry(besideCaption, 8, 752 - besideCaption, LBL_Passes->height());
    LBL_NotRecorded->setStyleSheet(QStringLiteral("color: #b00000;"));
    LBL_NotRecorded->setVisible(false);
    SetRecordingProblem("", 0, 0);

    CMB_Task = new QComboBox(this);
    CMB_Task->setObjectName(QStringLiteral("CMB_Task"));
    CMB_Task->setGeometry(45, 106, 180, 21);
    LBL_Task = FilterCaption(this, "LBL_Task", "&Task:", 8, 106, CMB_Task);
    CMB_Kind = new QComboBox(this);
    CMB_Kind->setObjectName(QStringLiteral("CMB_Kind"));
    CMB_Kind->setGeometry(295, 106, 160, 21);
    LBL_Kind = FilterCaption(this, "LBL_Kind", "&Outcome:", 240, 106, CMB_Kind);
    CMB_Kind->addItem(QStringLiteral("All outcomes"), -1);
    for (OutcomeKind kind :
         {OutcomeKind::Moved, OutcomeKind::NameTaken, OutcomeKind::InUse,
          OutcomeKind::DestinationMissing, OutcomeKind::MoveFailed,
          OutcomeKind::DestinationIsSource, OutcomeKind::PassError, OutcomeKind::MailNotSent}) {
        CMB_Kind->addItem(QString::fromLatin1(OutcomeKindText(kind)), static_cast<int>(kind));
        if (kind == OutcomeKind::Moved)
            CMB_Kind->addItem(QStringLiteral("moved back"), kMovedBackFilter);
    }

    STG_Activity = new QTableWidget(0, ColCount, this);
    STG_Activity->setObjectName(QStringLiteral("STG_Activity"));
    STG_Activity->setGeometry(8, 133, 744, 220);
    STG_Activity->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Task"),
                                             QStringLiteral("File"), QString::fromUtf8("From → To"),
                                             QStringLiteral("Outcome")});
    STG_Activity->setEditTriggers(QAbstractItemView::NoEditTriggers);
    STG_Activity->setSelectionBehavior(QAbstractItemView::SelectRows);
    STG_Activity->setSelectionMode(QAbstractItemView::SingleSelection);
    STG_Activity->setWordWrap(false);
    STG_Activity->setTextElideMode(Qt::ElideMiddle);
    STG_Activity->setCornerButtonEnabled(false);
    STG_Activity->verticalHeader()->setVisible(false);
    STG_Activity->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    STG_Activity->verticalHeader()->setDefaultSectionSize(kRowHeight);
    QHeaderView* headings = STG_Activity->horizontalHeader();
    headings->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    headings->setHighlightSections(false);
    headings->setSectionsClickable(false);
    headings->setFixedHeight(kRowHeight);
    headings->setStretchLastSection(true);
    for (int col = 0; col < ColCount; ++col)
        headings->resizeSection(col, kColumnWidths[col]);

    BTN_MoveBack = MakeButton(this, "BTN_MoveBack", "Move &back", 8, 364, 85);
    BTN_Clear = MakeButton(this, "BTN_Clear", "C&lear history", 99, 364, 90);
    CHK_Notify =
        new QCheckBox(QStringLiteral("Show a desktop &notification after each pass"), this);
    CHK_Notify->setObjectName(QStringLiteral("CHK_Notify"));
    // As wide as their texts: a click beside the words does not tick them.
    CHK_Notify->setGeometry(201, 359, CHK_Notify->sizeHint().width(), 17);
    CHK_Autostart = new QCheckBox(QStringLiteral("&Start with the desktop session"), this);
    CHK_Autostart->setObjectName(QStringLiteral("CHK_Autostart"));
    CHK_Autostart->setGeometry(201, 377, CHK_Autostart->sizeHint().width(), 17);
    BTN_Close = MakeButton(this, "BTN_Close", "&Close", 677, 364, 75);

    setTabOrder(CMB_Task, CMB_Kind);
    setTabOrder(CMB_Kind, STG_Activity);
    setTabOrder(STG_Activity, BTN_MoveBack);
    setTabOrder(BTN_MoveBack, BTN_Clear);
    setTabOrder(BTN_Clear, CHK_Notify);
    setTabOrder(CHK_Notify, CHK_Autostart);
    setTabOrder(CHK_Autostart, BTN_Close);

    connect(CMB_Task, &QComboBox::currentIndexChanged, this, Guarded([this] { FilterChanged(); }));
    connect(CMB_Kind, &QComboBox::currentIndexChanged, this, Guarded([this] { FilterChanged(); }));
    connect(STG_Activity->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            Guarded([this] { SelectionChanged(); }));
    connect(BTN_MoveBack, &QPushButton::clicked, this, Guarded([this] { BTN_MoveBackClick(); }));
    connect(BTN_Clear, &QPushButton::clicked, this, Guarded([this] { BTN_ClearClick(); }));
    connect(CHK_Notify, &QCheckBox::clicked, this, Guarded([this] { CHK_NotifyClick(); }));
    connect(CHK_Autostart, &QCheckBox::clicked, this, Guarded([this] { CHK_AutostartClick(); }));
    connect(BTN_Close, &QPushButton::clicked, this, &QWidget::hide);

    if (!Store_) {
        LST_Passes->setVisible(false);
        LBL_Unavailable->setVisible(true);
        for (QWidget* w :
             std::initializer_list<QWidget*>{CMB_Task, CMB_Kind, STG_Activity, BTN_Clear})
            w->setEnabled(false);
    }
    Refresh();
}

QString TFRM_Activity::TimeText(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString TFRM_Activity::RouteText(const FileOutcome& outcome) {
    return PathToQString(outcome.SourceFolder) + QString::fromUtf8(" → ") +
           PathToQString(outcome.DestinationFolder);
}

QString TFRM_Activity::OutcomeText(const ActivityEntry& entry) {
    const FileOutcome& o = entry.Outcome;
    QString text = QString::fromLatin1(OutcomeKindText(o.Kind));
    if (o.Kind == OutcomeKind::Moved && entry.MovedBack)
        text += QStringLiteral(", then moved back");
    // What went wrong is worth more than the word for it.
    if ((o.Kind == OutcomeKind::PassError || o.Kind == OutcomeKind::MoveFailed ||
         o.Kind == OutcomeKind::MailNotSent) &&
        !o.Detail.empty())
        text += QStringLiteral(": ") + AnsiToQString(o.Detail);
    return text;
}

void TFRM_Activity::SetRecordingProblem(const std::string& reason, int64_t sinceMs, int passes) {
    if (!Store_) {
        const std::string path = ActivityStore::DefaultPath();
        QString text =
            QStringLiteral("The history could not be opened, so passes are not recorded");
        if (!reason.empty())
            text += QStringLiteral(": ") + AnsiToQString(reason);
        text += QStringLiteral(".");
        // Where it is, unless the reason has named it already.
        if (reason.find(path) == std::string::npos)
            text += QStringLiteral(" It is kept in %1.").arg(PathToQString(path));
        LBL_Unavailable->setText(text);
        return;
    }
    if (reason.empty() || passes <= 0) {
        LBL_NotRecorded->setVisible(false);
        return;
    }
    const QString text =
        QStringLiteral("Passes since %1 are not recorded (%2 so far): %3.")
            .arg(QDateTime::fromMSecsSinceEpoch(sinceMs).toString(QStringLiteral("HH:mm:ss")))
            .arg(passes)
            .arg(AnsiToQString(reason));
    LBL_NotRecorded->setText(
        LBL_NotRecorded->fontMetrics().elidedText(text, Qt::ElideRight, LBL_NotRecorded->width()));
    LBL_NotRecorded->setToolTip(text);
    LBL_NotRecorded->setVisible(true);
}

const ActivityEntry* TFRM_Activity::Selected() const {
    const QModelIndexList rows = STG_Activity->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return nullptr;
    const int row = rows.first().row();
    if (row < 0 || row >= static_cast<int>(Shown_.size()))
        return nullptr;
    return &Shown_[static_cast<size_t>(row)];
}

void TFRM_Activity::Show() {
    Refresh();
    if (isMinimized())
        showNormal();
    ShowCentredAndRaised(this);
}

void TFRM_Activity::Refresh() {
    CHK_Notify->setChecked(ReadDesktopNotifications());
    CHK_Autostart->setChecked(AutostartEnabled());
    FillTasks();
    FillPasses();
    FillEntries();
}

void TFRM_Activity::FillTasks() {
    // The task names come from the history, not from today's task list: a task deleted since
    // still has its entries.
    const QVariant chosen = CMB_Task->currentData();
    Filling_ = true;
    CMB_Task->clear();
    CMB_Task->addItem(QStringLiteral("All tasks"), QByteArray());
    if (Store_)
        for (const std::string& task : Store_->Tasks())
            CMB_Task->addItem(AnsiToQString(task), Bytes(task));
    const int again = chosen.isValid() ? CMB_Task->findData(chosen) : -1;
    CMB_Task->setCurrentIndex(again >= 0 ? again : 0);
    Filling_ = false;
}

void TFRM_Activity::FillPasses() {
    LST_Passes->clear();
    if (!Store_)
        return;
    for (const RecordedPass& pass : Store_->RecentPasses(kRecentPasses)) {
        const QString line =
            TimeText(pass.StartMs) + QString::fromUtf8(" — ") + AnsiToQString(pass.Summary.Text());
        auto* item = new QListWidgetItem(line, LST_Passes);
        item->setToolTip(line);
    }
}

void TFRM_Activity::FillEntries() {
    int64_t keep = 0;
    if (const ActivityEntry* selected = Selected())
        keep = selected->Id;
    ActivityFilter filter;
    const QByteArray task = CMB_Task->currentData().toByteArray();
    filter.Task.assign(task.constData(), static_cast<size_t>(task.size()));
    filter.Kind = CMB_Kind->currentData().toInt();
    if (filter.Kind == kMovedBackFilter) {
        filter.Kind = static_cast<int>(OutcomeKind::Moved);
        filter.MovedBackOnly = true;
    }
    Shown_ = Store_ ? Store_->List(filter) : std::vector<ActivityEntry>{};

    STG_Activity->clearSelection();
    STG_Activity->setRowCount(static_cast<int>(Shown_.size()));
    const QLocale locale;
    int reselect = -1;
    for (int row = 0; row < static_cast<int>(Shown_.size()); ++row) {
        const ActivityEntry& entry = Shown_[static_cast<size_t>(row)];
        const FileOutcome& o = entry.Outcome;
        const QString texts[ColCount] = {TimeText(o.TimeMs), AnsiToQString(o.Task),
                                         PathToQString(o.File), RouteText(o), OutcomeText(entry)};
        QString tip = texts[ColFile].isEmpty() ? texts[ColTask] : texts[ColFile];
        tip += QStringLiteral("\n") + texts[ColRoute] + QStringLiteral("\n") + texts[ColOutcome];
        if (o.Kind == OutcomeKind::Moved && o.Size >= 0)
            tip +=
                QStringLiteral(" (%1 bytes)").arg(locale.toString(static_cast<qlonglong>(o.Size)));
        for (int col = 0; col < ColCount; ++col) {
            auto* item = new QTableWidgetItem(texts[col]);
            item->setToolTip(tip);
            STG_Activity->setItem(row, col, item);
        }
        if (entry.Id == keep)
            reselect = row;
    }
    if (reselect >= 0)
        STG_Activity->selectRow(reselect);
    SelectionChanged();
}

void TFRM_Activity::SelectionChanged() {
    const ActivityEntry* entry = Selected();
    BTN_MoveBack->setEnabled(Store_ && entry && entry->Outcome.Kind == OutcomeKind::Moved &&
                             !entry->MovedBack);
}

void TFRM_Activity::FilterChanged() {
    if (!Filling_)
        FillEntries();
}

void TFRM_Activity::BTN_MoveBackClick() {
    const ActivityEntry* selected = Selected();
    if (!Store_ || !selected || selected->Outcome.Kind != OutcomeKind::Moved || selected->MovedBack)
        return;
    const ActivityEntry entry = *selected;
    const MoveBackResult result = MoveBack(entry.Outcome);
    if (result.Refusal != MoveBackRefusal::None) {
        App_.Prompts().MessageDlg(result.Reason, TMsgDlgType::mtWarning, Btn(mbOK));
        return;
    }
    try {
        Store_->SetMovedBack(entry.Id);
    } catch (const HistoryError& e) {
        App_.Prompts().MessageDlg(entry.Outcome.File + " is back in " + entry.Outcome.SourceFolder +
                                      ", but the history could not note it: " + e.message() + ".",
                                  TMsgDlgType::mtWarning, Btn(mbOK));
    }
    Refresh();
}

void TFRM_Activity::BTN_ClearClick() {
    if (!Store_)
        return;
    if (App_.Prompts().MessageDlg("Clear the whole history? The files stay where they are.",
                                  TMsgDlgType::mtConfirmation, Btn(mbYes) | Btn(mbNo)) != mrYes)
        return;
    try {
        Store_->Clear();
    } catch (const HistoryError& e) {
        App_.Prompts().MessageDlg(
            "The history could not be cleared: " + e.message() + "." +
                (e.Why == HistoryError::Busy ? " Try again in a moment." : ""),
            TMsgDlgType::mtWarning, Btn(mbOK));
    }
    Refresh();
}

void TFRM_Activity::CHK_NotifyClick() {
    WriteDesktopNotifications(CHK_Notify->isChecked());
    // The box shows what the next pass will do, whatever was asked.
    CHK_Notify->setChecked(ReadDesktopNotifications());
}

void TFRM_Activity::CHK_AutostartClick() {
    const AutostartChange change = SetAutostart(CHK_Autostart->isChecked());
    // The box shows what the session will do, whatever was asked.
    CHK_Autostart->setChecked(AutostartEnabled());
    if (change.Result == AutostartChange::Failed)
        App_.Prompts().MessageDlg(change.Error, TMsgDlgType::mtWarning, Btn(mbOK));
}

} // namespace ferry
