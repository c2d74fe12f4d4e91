#include "ui/frm_task_conditions.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTreeWidget>
#include <chrono>
#include <limits>

#include "core/pass_rules.h"
#include "extract/document_reader.h"
#include "extract/program_pass_rules.h"
#include "settings/settings_store.h"
#include "ui/ansi_text.h"
#include "ui/application.h"
#include "ui/file_check.h"
#include "ui/form_style.h"
#include "ui/guard.h"
#include "ui/task_preview.h"
#include "ui/user_prompts.h"
#include "ui/window_frame.h"

namespace ferry {

namespace {

const char* const kKindTexts[] = {
    "The matching string as it is, anywhere in the file",
    "Any of its words",
    "All of its words, in any order",
    "Its words as one exact phrase",
    "A regular expression",
};

QLabel* Hint(QWidget* parent, const char* name, const char* text, int x, int y) {
    QLabel* label = MakeLabel(parent, name, text, x, y);
    label->setStyleSheet(QStringLiteral("color: #606060;"));
    return label;
}

QString Plural(std::size_t n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QString::fromLatin1(n == 1 ? one : many);
}

QString Shown(const std::string& text, bool utf8) {
    return utf8 ? QString::fromStdString(text) : AnsiToQString(text);
}

} // namespace

TFRM_TaskConditions::TFRM_TaskConditions(TApplication& app, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), App_(app) {
    setObjectName(QStringLiteral("FRM_TaskConditions"));
    setWindowTitle(QStringLiteral("Ferrydesk - Task Conditions"));
    setFont(FormFont(QStringLiteral("Tahoma")));
    setWindowModality(Qt::ApplicationModal);
    resize(480, 440);
    setWindowIcon(App_.Icon);
    KeepFromMinimising(this);

    CMB_MatchKind = new QComboBox(this);
    CMB_MatchKind->setObjectName(QStringLiteral("CMB_MatchKind"));
    CMB_MatchKind->setGeometry(120, 12, 352, 21);
    for (uint32_t kind = 0; kind < std::size(kKindTexts); ++kind)
        CMB_MatchKind->addItem(QString::fromLatin1(kKindTexts[kind]), kind);
    LBL_MatchKind = MakeLabel(this, "LBL_MatchKind", "&Match by", 8, 15);
    LBL_MatchKind->setBuddy(CMB_MatchKind);
    TXT_MatchString = MakeEdit(this, "TXT_MatchString", 120, 40, 352);
    LBL_MatchString = MakeLabel(this, "LBL_MatchString", "Matching &String", 8, 43);
    LBL_MatchString->setBuddy(TXT_MatchString);

    TXT_ExcludeString = MakeEdit(this, "TXT_ExcludeString", 120, 68, 352);
    LBL_Exclude = MakeLabel(this, "LBL_Exclude", "&Leave files with", 8, 71);
    LBL_Exclude->setBuddy(TXT_ExcludeString);
    LBL_ExcludeHint =
        Hint(this, "LBL_ExcludeHint",
             "Any of these words or \"quoted phrases\" keeps a file where it is.", 120, 91);
    TXT_NamePattern = MakeEdit(this, "TXT_NamePattern", 120, 110, 352);
    LBL_Names = MakeLabel(this, "LBL_Names", "Only files &named", 8, 113);
    LBL_Names->setBuddy(TXT_NamePattern);
    LBL_NamesHint =
        Hint(this, "LBL_NamesHint",
             "Such as *.pdf;*.docx;scan-??.png (any case). Empty: every file.", 120, 133);

    SPN_MinAge = new QSpinBox(this);
    SPN_MinAge->setObjectName(QStringLiteral("SPN_MinAge"));
    SPN_MinAge->setGeometry(120, 152, 70, 21);
    SPN_MinAge->setRange(0, std::numeric_limits<int>::max());
    LBL_Age = MakeLabel(this, "LBL_Age", "Unchanged for &at least", 8, 155);
    LBL_Age->setBuddy(SPN_MinAge);
    LBL_AgeUnit = MakeLabel(this, "LBL_AgeUnit", "minutes (0: take files at once)", 196, 155);

    CHK_Documents = new QCheckBox(
        QStringLiteral("Look inside documents (PDF, Word, OpenDocument, e-mail)"), this);
    CHK_Documents->setObjectName(QStringLiteral("CHK_Documents"));
    CHK_Documents->setGeometry(8, 182, CHK_Documents->sizeHint().width(), 17);
    CHK_Ocr = new QCheckBox(QStringLiteral("Read scanned pages (OCR)"), this);
    CHK_Ocr->setObjectName(QStringLiteral("CHK_Ocr"));
    CHK_Ocr->setGeometry(26, 202, CHK_Ocr->sizeHint().width(), 17);

    BTN_Test = MakeButton(this, "BTN_Test", "&Test on a file", 8, 230, 110);
    BTN_Test->setText(QString::fromUtf8("&Test on a file\u2026"));
    BTN_Preview = MakeButton(this, "BTN_Preview", "&Preview", 124, 230, 75);
    LBL_Status = new QLabel(this);
    LBL_Status->setObjectName(QStringLiteral("LBL_Status"));
    LBL_Status->setGeometry(207, 230, 265, 25);
    LBL_Status->setWordWrap(true);

    LST_Results = new QTreeWidget(this);
    LST_Results->setObjectName(QStringLiteral("LST_Results"));
    LST_Results->setGeometry(8, 262, 464, 136);
    LST_Results->setRootIsDecorated(false);
    LST_Results->setColumnCount(2);
    LST_Results->setHeaderLabels({QStringLiteral("File"), QStringLiteral("What would happen")});
    LST_Results->header()->resizeSection(0, 170);
    LST_Results->installEventFilter(this);

    BTN_OK = MakeButton(this, "BTN_OK", "OK", 316, 407, 75);
    BTN_Cancel = MakeButton(this, "BTN_Cancel", "&Cancel", 397, 407, 75);

    setTabOrder(CMB_MatchKind, TXT_MatchString);
    setTabOrder(TXT_MatchString, TXT_ExcludeString);
    setTabOrder(TXT_ExcludeString, TXT_NamePattern);
    setTabOrder(TXT_NamePattern, SPN_MinAge);
    setTabOrder(SPN_MinAge, CHK_Documents);
    setTabOrder(CHK_Documents, CHK_Ocr);
    setTabOrder(CHK_Ocr, BTN_Test);
    setTabOrder(BTN_Test, BTN_Preview);
    setTabOrder(BTN_Preview, LST_Results);
    setTabOrder(LST_Results, BTN_OK);
    setTabOrder(BTN_OK, BTN_Cancel);

    connect(CMB_MatchKind, &QComboBox::currentIndexChanged, this,
            Guarded([this] { KindChanged(); }));
    connect(CHK_Documents, &QCheckBox::toggled, this, Guarded([this] { DocumentsChanged(); }));
    connect(BTN_Test, &QPushButton::clicked, this, Guarded([this] { BTN_TestClick(); }));
    connect(BTN_Preview, &QPushButton::clicked, this, Guarded([this] { BTN_PreviewClick(); }));
    connect(BTN_OK, &QPushButton::clicked, this, Guarded([this] { BTN_OKClick(); }));
    connect(BTN_Cancel, &QPushButton::clicked, this, Guarded([this] { BTN_CancelClick(); }));
}

TFRM_TaskConditions::~TFRM_TaskConditions() {
    Worker_.Stop();
    // The reader was used on the worker alone, which has ended.
    Documents_.reset();
}

void TFRM_TaskConditions::ShowTask(const TaskRecord& task, const TaskConditions& conditions) {
    Abandon();
    Task_ = task;
    // A kind this window does not know stays as stored until the user picks another.
    const int known = CMB_MatchKind->findData(static_cast<uint32_t>(conditions.Kind));
    if (CMB_MatchKind->count() > static_cast<int>(std::size(kKindTexts)))
        CMB_MatchKind->removeItem(CMB_MatchKind->count() - 1);
    if (known < 0) {
        CMB_MatchKind->addItem(QStringLiteral("Kind %1, unknown to this version (takes no file)")
                                   .arg(static_cast<uint32_t>(conditions.Kind)),
                               static_cast<uint32_t>(conditions.Kind));
        CMB_MatchKind->setCurrentIndex(CMB_MatchKind->count() - 1);
    } else {
        CMB_MatchKind->setCurrentIndex(known);
    }
    TXT_MatchString->setText(AnsiToQString(conditions.MatchString));
    TXT_ExcludeString->setText(AnsiToQString(conditions.ExcludeString));
    TXT_NamePattern->setText(AnsiToQString(conditions.NamePattern));
    SPN_MinAge->setValue(static_cast<int>(
        std::min<uint32_t>(conditions.MinAgeMinutes, std::numeric_limits<int>::max())));
    CHK_Documents->setChecked(conditions.LookIn != 0);
    CHK_Ocr->setChecked(conditions.LookIn >= 2);
    DocumentsChanged();
    LBL_Status->clear();
    LST_Results->clear();
    ShowCentredAndRaised(this);
}

TaskConditions TFRM_TaskConditions::Conditions() const {
    TaskConditions c;
    c.MatchString = QStringToAnsi(TXT_MatchString->text());
    c.Kind = static_cast<MatchKind>(CMB_MatchKind->currentData().toUInt());
    c.ExcludeString = QStringToAnsi(TXT_ExcludeString->text());
    c.NamePattern = QStringToAnsi(TXT_NamePattern->text());
    c.MinAgeMinutes = static_cast<uint32_t>(SPN_MinAge->value());
    c.LookIn = CHK_Documents->isChecked() ? (CHK_Ocr->isChecked() ? 2 : 1) : 0;
    return c;
}

void TFRM_TaskConditions::KindChanged() {
    // The match string of a regular expression is the pattern; its hint says so.
    TXT_MatchString->setPlaceholderText(
        CMB_MatchKind->currentData().toUInt() == static_cast<uint32_t>(MatchKind::Pattern)
            ? QStringLiteral("A regular expression, such as ACME-\\d{4}")
            : QString());
}

void TFRM_TaskConditions::DocumentsChanged() {
    CHK_Ocr->setEnabled(CHK_Documents->isChecked());
}

void TFRM_TaskConditions::BTN_OKClick() {
    const TaskConditions c = Conditions();
    // Refused here, where it can be put right: in a pass it would just take nothing.
    const std::string error = PatternError(c);
    if (!error.empty()) {
        App_.Prompts().MessageDlg("The regular expression is not valid: " + error,
                                  TMsgDlgType::mtError, Btn(mbOK));
        TXT_MatchString->setFocus();
        return;
    }
    Abandon();
    hide();
    if (OnAccepted)
        OnAccepted(c);
}

void TFRM_TaskConditions::BTN_TestClick() {
    std::string path;
    if (App_.Prompts().ChooseFile("Test on a File", path))
        TestFile(path);
}

void TFRM_TaskConditions::TestFile(const std::string& path) {
    const TaskConditions c = Conditions();
    const bool caseSensitive = CurrentPassRules().CaseSensitive;
    const std::string languages = ReadOcrLanguages();
    Start(Job::Test, [this, c, caseSensitive, languages, path](const CancelFlag&) {
        if (!Documents_)
            Documents_ = std::make_unique<DocumentReader>();
        const FileCheck check = CheckFile(c, caseSensitive, path, *Documents_, languages,
                                          std::chrono::system_clock::now());
        return std::function<void()>([this, path, check] { ShowCheck(path, check); });
    });
}

void TFRM_TaskConditions::BTN_PreviewClick() {
    if (Task_.Source.empty()) {
        LBL_Status->setText(QStringLiteral("Choose the source folder first."));
        return;
    }
    const TaskConditions c = Conditions();
    TaskRecord task = Task_;
    task.MatchString = c.MatchString;
    task.Conditions = c;
    const PassRules rules = ProgramPassRules();
    std::vector<TaskRecord> ahead = TasksAhead ? TasksAhead() : std::vector<TaskRecord>();
    Start(Job::Preview, [this, task, rules, ahead](const CancelFlag& cancel) {
        const std::vector<PreviewRow> rows = PreviewTask(ahead, task, rules, cancel);
        return std::function<void()>([this, rows] { ShowPreview(rows); });
    });
}

bool TFRM_TaskConditions::Start(Job job,
                                std::function<std::function<void()>(const CancelFlag&)> work) {
    if (Busy())
        return false;
    const unsigned serial = ++Serial_;
    const bool started = Worker_.Start(
        [this, serial, work = std::move(work)](const CancelFlag& cancel) {
            std::function<void()> show;
            try {
                show = work(cancel);
            } catch (const std::exception& e) {
                show = [this, why = std::string(e.what())] { ShowFailure(why); };
            } catch (...) {
                show = [this] { ShowFailure("an unknown error"); };
            }
            // Queued to this window, on its thread; dropped with the window if it goes first.
            QMetaObject::invokeMethod(
                this, [this, serial, show] { Finished(serial, show); }, Qt::QueuedConnection);
        },
        [] {});
    if (!started) {
        // A job given up on (Cancel, or the window opened again) may still be ending.
        LBL_Status->setText(QStringLiteral("Still finishing the last one; try again in a moment."));
        return false;
    }
    Running_ = job;
    BTN_Test->setEnabled(false);
    BTN_Preview->setEnabled(false);
    LST_Results->clear();
    LBL_Status->setText(job == Job::Test ? QStringLiteral("Reading the file\u2026")
                                         : QStringLiteral("Looking at the source folder\u2026"));
    return true;
}

void TFRM_TaskConditions::Finished(unsigned serial, const std::function<void()>& show) {
    if (serial != Serial_)
        return; // abandoned: the window was left or opened again meanwhile
    Running_ = Job::None;
    BTN_Test->setEnabled(true);
    BTN_Preview->setEnabled(true);
    RunGuarded(show);
}

void TFRM_TaskConditions::Abandon() {
    if (!Busy())
        return;
    Worker_.Cancel();
    ++Serial_;
    Running_ = Job::None;
    BTN_Test->setEnabled(true);
    BTN_Preview->setEnabled(true);
}

void TFRM_TaskConditions::ShowCheck(const std::string& path, const FileCheck& check) {
    const QString name = PathToQString(path.substr(path.rfind('/') + 1));
    LST_Results->setHeaderLabels({QStringLiteral("Where"), QStringLiteral("Found")});
    LBL_Status->setText(check.Taken ? QStringLiteral("This task would take %1.").arg(name)
                                    : QStringLiteral("This task would leave %1: %2.")
                                          .arg(name, AnsiToQString(check.Reason)));
    for (const FoundInContext& found : check.Found) {
        auto* item = new QTreeWidgetItem(LST_Results);
        item->setText(0, Shown(found.Where, false));
        const QString more = QString::fromUtf8("\u2026");
        item->setText(1, (found.MoreBefore ? more : QString()) + Shown(found.Before, found.Utf8) +
                             QLatin1Char('[') + Shown(found.Matched, found.Utf8) +
                             QLatin1Char(']') + Shown(found.After, found.Utf8) +
                             (found.MoreAfter ? more : QString()));
        item->setToolTip(1, item->text(1));
    }
}

void TFRM_TaskConditions::ShowPreview(const std::vector<PreviewRow>& rows) {
    LST_Results->setHeaderLabels({QStringLiteral("File"), QStringLiteral("What would happen")});
    std::size_t moves = 0;
    for (const PreviewRow& row : rows) {
        auto* item = new QTreeWidgetItem(LST_Results);
        item->setText(0, AnsiToQString(row.File));
        item->setText(1, AnsiToQString(row.Outcome));
        item->setToolTip(1, item->text(1));
        moves += row.Moves;
    }
    LBL_Status->setText(
        QStringLiteral("Nothing was moved: %1 would move, %2 would stay.")
            .arg(Plural(moves, "file", "files"), QString::number(rows.size() - moves)));
}

void TFRM_TaskConditions::ShowFailure(const std::string& why) {
    LBL_Status->setText(QStringLiteral("Could not finish: %1").arg(AnsiToQString(why)));
}

void TFRM_TaskConditions::BTN_CancelClick() {
    Abandon();
    hide();
}

void TFRM_TaskConditions::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    OfferNoFrameButtons(this);
}

bool TFRM_TaskConditions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == LST_Results && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        if (const QTreeWidgetItem* item = LST_Results->currentItem())
            QGuiApplication::clipboard()->setText(item->text(0) + QLatin1Char('\t') +
                                                  item->text(1));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TFRM_TaskConditions::closeEvent(QCloseEvent* event) {
    // As the task dialogs: left through its buttons only.
    event->setAccepted(ApplicationTerminated());
}

} // namespace ferry
