// Renders each of the program's windows to a PNG file, for the documentation. Run under a
// display with a window manager (scripts/screenshots starts one) so the frames show too.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <poll.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "activity/activity_store.h"
#include "core/engine.h"
#include "platform/registry.h"
#include "ui/application.h"
#include "ui/form_style.h"
#include "ui/frm_activity.h"
#include "ui/frm_add_task.h"
#include "ui/frm_edit_task.h"
#include "ui/frm_mail_security.h"
#include "ui/frm_options.h"
#include "ui/frm_task_conditions.h"
#include "ui/frm_task_list.h"
#include "ui/message_form.h"
#include "ui/watch_trigger.h"
#include <QPushButton>
#include <QTableWidget>

namespace {

void Settle(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Shoot(QWidget* window, const QString& file) {
    window->show();
    window->raise();
    window->activateWindow();
    Settle(700);
    const QRect frame = window->frameGeometry();
    QPixmap picture =
        window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (picture.isNull())
        picture = window->grab();
    const bool saved = picture.save(file);
    std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "FAILED", qPrintable(file), picture.width(),
                picture.height());
    return saved;
}

// Another program holding the settings busy: a child process with the hive's exclusive lock
// until the pipe it reads is closed. Returns its pid and the pipe, or -1.
pid_t HoldSettings(int& release) {
    int ready[2], hold[2];
    if (pipe(ready) != 0 || pipe(hold) != 0)
        return -1;
    const std::string hive = ferry::RegistryHivePath(ferry::HKEY_LOCAL_MACHINE);
    const pid_t pid = fork();
    if (pid == 0) {
        sqlite3* db = nullptr;
        char answer = 'n';
        if (sqlite3_open_v2(hive.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK)
            answer = 'y';
        if (write(ready[1], &answer, 1) != 1)
            answer = 'n';
        pollfd p{hold[0], POLLIN, 0};
        if (answer == 'y')
            poll(&p, 1, 60000);
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    char answer = 0;
    if (pid < 0 || read(ready[0], &answer, 1) != 1 || answer != 'y') {
        close(hold[1]);
        return -1;
    }
    close(ready[0]);
    release = hold[1];
    return pid;
}

// Delete Task while the settings are held: the window and the box it shows, in one picture.
bool ShootStoreBusy(const QString& file) {
    using ferry::FRM_TaskList;
    FRM_TaskList->Show();
    Settle(700);
    int release = -1;
    const pid_t holder = HoldSettings(release);
    if (holder < 0) {
        std::printf("FAILED %s (could not hold the settings)\n", qPrintable(file));
        return false;
    }
    bool saved = false;
    auto* watch = new QTimer;
    QObject::connect(watch, &QTimer::timeout, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box)
            return;
        watch->stop();
        Settle(700);
        const QRect area = FRM_TaskList->frameGeometry().united(box->frameGeometry());
        const QPixmap picture =
            box->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        saved = !picture.isNull() && picture.save(file);
        std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "FAILED", qPrintable(file),
                    picture.width(), picture.height());
        box->close();
    });
    watch->start(200);
    FRM_TaskList->Table().SetRow(1);
    FRM_TaskList->BTN_DelTask->click();
    delete watch;
    close(release);
    waitpid(holder, nullptr, 0);
    return saved;
}

// A morning's passes as the history would hold them, the newest a few minutes ago.
void RecordPasses(ferry::ActivityStore& store) {
    using ferry::OutcomeKind;
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    auto outcome = [](int64_t at, const char* task, const char* from, const char* to,
                      const char* file, OutcomeKind kind, int64_t size = -1) {
        ferry::FileOutcome o;
        o.TimeMs = at;
        o.Task = task;
        o.SourceFolder = from;
        o.DestinationFolder = to;
        o.File = file;
        o.Kind = kind;
        o.Size = size;
        return o;
    };
    const char* inbox = "/srv/scans/inbox";
    const char* invoices = "/srv/accounts/invoices";
    const char* delivery = "/srv/stores/delivery";
    int64_t at = now - 3 * 3600000;
    store.RecordPass(at, at + 900,
                     {outcome(at + 200, "Invoices", inbox, invoices, "scan-0412.pdf",
                              OutcomeKind::Moved, 482113),
                      outcome(at + 500, "Invoices", inbox, invoices, "scan-0413.pdf",
                              OutcomeKind::Moved, 391870)});
    at = now - 3600000;
    store.RecordPass(at, at + 1200,
                     {outcome(at + 300, "Delivery notes", inbox, delivery, "scan-0415.pdf",
                              OutcomeKind::NameTaken),
                      outcome(at + 700, "Payroll", "/home/clerk/Downloads", "/srv/hr/payroll",
                              "payslips-november.pdf", OutcomeKind::InUse)});
    at = now - 6 * 60000;
    store.RecordPass(at, at + 1500,
                     {outcome(at + 200, "Invoices", inbox, invoices, "scan-0418.pdf",
                              OutcomeKind::Moved, 502644),
                      outcome(at + 400, "Invoices", inbox, invoices, "scan-0419.pdf",
                              OutcomeKind::Moved, 377015),
                      outcome(at + 600, "Invoices", inbox, invoices, "scan-0420.pdf",
                              OutcomeKind::Moved, 412380),
                      outcome(at + 900, "Delivery notes", inbox, delivery, "scan-0415.pdf",
                              OutcomeKind::NameTaken)});
}

// Lets Test or Preview end on the window's worker.
bool SettleWork(ferry::TFRM_TaskConditions* window) {
    for (int n = 0; n < 600 && window->Busy(); ++n)
        Settle(50);
    return !window->Busy();
}

// The Task Conditions window over a small inbox of real files: once after Preview, once after
// Test on a file.
bool ShootConditions(ferry::TaskTable& table, const QDir& out) {
    QTemporaryDir inbox, invoices;
    const struct {
        const char* Name;
        const char* Text;
    } files[] = {
        {"scan-0418.txt", "Invoice 2024-118 for ACME Ltd, due on 31 March\n"},
        {"scan-0419.txt", "Second reminder: invoice 2024-097 is overdue\n"},
        {"scan-0420.txt", "Delivery note 5520, no prices\n"},
        {"scan-0421.csv", "invoice;2024-120;ACME\n"},
        {"scan-0422.txt", "Bill of lading, container 7731\n"},
    };
    for (const auto& f : files) {
        QFile file(inbox.filePath(QString::fromLatin1(f.Name)));
        if (file.open(QIODevice::WriteOnly))
            file.write(f.Text);
    }
    ferry::TaskRecord task{"Invoices", inbox.path().toStdString(), invoices.path().toStdString(),
                           "invoice bill"};
    task.Conditions.Kind = ferry::MatchKind::AnyWord;
    task.Conditions.ExcludeString = "reminder \"final notice\"";
    task.Conditions.NamePattern = "*.pdf;*.txt";
    task.Conditions.LookIn = 1;
    table.ReplaceTask(1, task);
    table.SetRow(1);
    ferry::FRM_EditTask->ShowTask(table.TaskAt(1));
    ferry::FRM_EditTask->BTN_ConditionsClick();
    ferry::TFRM_TaskConditions* window = ferry::FRM_EditTask->FRM_TaskConditions;
    window->BTN_PreviewClick();
    bool ok = SettleWork(window) &&
              Shoot(window, out.filePath(QStringLiteral("task-conditions-preview.png")));
    window->TestFile(inbox.filePath(QStringLiteral("scan-0418.txt")).toStdString());
    ok = SettleWork(window) &&
         Shoot(window, out.filePath(QStringLiteral("task-conditions-test.png"))) && ok;
    window->BTN_CancelClick();
    ferry::FRM_EditTask->hide();
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-DIRECTORY\n", argv[0]);
        return 2;
    }
    QApplication qt(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    ferry::TApplication application;
    application.CreateForms();

    using ferry::FRM_TaskList;
    ferry::TaskTable& table = FRM_TaskList->Table();
    table.AppendTask({"Invoices", "/srv/scans/inbox", "/srv/accounts/invoices", "INVOICE"});
    table.AppendTask({"Delivery notes", "/srv/scans/inbox", "/srv/stores/delivery", "Delivery"});
    table.AppendTask({"Payroll", "/home/clerk/Downloads", "/srv/hr/payroll", "PAYSLIP"});
    FRM_TaskList->TXT_TimeInterval->setText(QStringLiteral("10"));

    bool ok = Shoot(FRM_TaskList, out.filePath(QStringLiteral("main-window.png")));
    FRM_TaskList->hide();

    ferry::FRM_AddTask->Show();
    ferry::FRM_AddTask->TXT_Identifier->setText(QStringLiteral("Reminders"));
    ferry::FRM_AddTask->TXT_SourceLoc->setText(QStringLiteral("/srv/scans/inbox"));
    ferry::FRM_AddTask->TXT_Destination->setText(QStringLiteral("/srv/office/reminders"));
    ferry::FRM_AddTask->TXT_MatchString->setText(QStringLiteral("REMINDER"));
    ok = Shoot(ferry::FRM_AddTask, out.filePath(QStringLiteral("add-task.png"))) && ok;
    ferry::FRM_AddTask->hide();

    table.SetRow(2);
    ferry::FRM_EditTask->ShowTask(table.TaskAt(2));
    ok = Shoot(ferry::FRM_EditTask, out.filePath(QStringLiteral("edit-task.png"))) && ok;
    ferry::FRM_EditTask->hide();

    ok = ShootConditions(table, out) && ok;

    ferry::FRM_Options->Show();
    ok = Shoot(ferry::FRM_Options, out.filePath(QStringLiteral("options.png"))) && ok;

    {
        ferry::TMailSettings shown;
        shown.SMTPServer = "smtp.example.com";
        shown.SMTPPort = 587;
        shown.SMTPSecurity = ferry::TMailSecurity::StartTLS;
        shown.SMTPUser = "clerk@example.com";
        ferry::TFRM_MailSecurity security(ferry::FRM_Options, shown, true);
        security.MEM_Result->setPlainText(
            QStringLiteral("Connected to smtp.example.com:587.\n"
                           "Encrypted with TLSv1.3, cipher TLS_AES_256_GCM_SHA384.\n"
                           "Certificate: CN = smtp.example.com\n"
                           "Issued by: C = US, O = Let's Encrypt, CN = R11\n"
                           "The certificate is trusted and matches the host name.\n"
                           "Signed in as clerk@example.com."));
        ferry::CentreOnScreen(&security);
        ok = Shoot(&security, out.filePath(QStringLiteral("mail-security.png"))) && ok;
        security.hide();
    }
    ferry::FRM_Options->hide();

    if (ferry::ActivityStore* store = FRM_TaskList->Activity()) {
        RecordPasses(*store);
        for (const ferry::ActivityEntry& entry : store->List({}))
            if (entry.Outcome.File == "scan-0413.pdf")
                store->SetMovedBack(entry.Id);
        // Watching on: the Invoices folder is there, the Payroll one is not. The table
        // followed the (empty) store since the main window's picture: the tasks come again.
        QTemporaryDir inbox;
        if (ferry::TaskRowsForPass(table).empty()) {
            table.AppendTask(
                {"Invoices", inbox.path().toStdString(), "/srv/accounts/invoices", "INVOICE"});
            table.AppendTask({"Payroll", "/home/clerk/Downloads", "/srv/hr/payroll", "PAYSLIP"});
        }
        FRM_TaskList->Watch().SetOn(true);
        for (int i = 0; i < 50 && FRM_TaskList->Watch().Statuses().size() < 2; ++i) {
            QThread::msleep(20);
            QCoreApplication::processEvents();
        }
        emit FRM_TaskList->Watch().StatusChanged();
        FRM_TaskList->LBL_ActivityClick();
        ferry::TFRM_Activity* activity = FRM_TaskList->FRM_Activity;
        activity->STG_Activity->selectRow(1);
        ok = Shoot(activity, out.filePath(QStringLiteral("activity.png"))) && ok;
        activity->hide();

        // Two passes since that the history could not take: the window says so beside the
        // passes' caption.
        activity->SetRecordingProblem("another program is using the history right now",
                                      QDateTime::currentMSecsSinceEpoch() - 4 * 60000, 2);
        FRM_TaskList->LBL_ActivityClick();
        ok = Shoot(activity, out.filePath(QStringLiteral("activity-not-recorded.png"))) && ok;
        activity->hide();

        ferry::TMessageForm refused(
            "scan-0418.pdf in /srv/accounts/invoices has changed since it was moved, so it stays "
            "there. If you still want it in /srv/scans/inbox, move it there yourself.",
            ferry::TMsgDlgType::mtWarning, ferry::Btn(ferry::mbOK));
        ok = Shoot(&refused, out.filePath(QStringLiteral("move-back-refused.png"))) && ok;
        refused.hide();
    } else {
        std::printf("FAILED activity.png (the history could not be opened)\n");
        ok = false;
    }

    {
        // A file of another kind where the history belongs: it is named, and left alone.
        ferry::TFRM_Activity unavailable(application, nullptr);
        unavailable.SetRecordingProblem("'" + ferry::ActivityStore::DefaultPath() +
                                            "' is not a history of this program; it is left as "
                                            "it is",
                                        0, 0);
        ferry::CentreOnScreen(&unavailable);
        ok = Shoot(&unavailable, out.filePath(QStringLiteral("activity-unavailable.png"))) && ok;
        unavailable.hide();
    }

    ferry::TMessageForm quit("Do you really want to Quit the Program?",
                             ferry::TMsgDlgType::mtConfirmation,
                             ferry::Btn(ferry::mbYes) | ferry::Btn(ferry::mbNo));
    ok = Shoot(&quit, out.filePath(QStringLiteral("quit-question.png"))) && ok;
    quit.hide();
    ok = ShootStoreBusy(out.filePath(QStringLiteral("store-busy.png"))) && ok;
    return ok ? 0 : 1;
}
