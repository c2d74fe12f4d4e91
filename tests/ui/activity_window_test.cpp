// The Activity window over a real history database, the main window's link to it, and the
// notification after a pass.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "activity/activity_store.h"
#include "support/child_process.h"
#include "support/registry_sandbox.h"
#include "support/temp_dir.h"
#include "ui/ansi_text.h"
#include "ui/frm_activity.h"
#include "ui/frm_task_list.h"
#include "ui/pass_runner.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

constexpr int64_t kDay = 1765270800000; // a morning in December 2025, local time aside

class ActivityTest : public ProgramTest {
protected:
    static FileOutcome Outcome(int64_t time, const std::string& task, const std::string& file,
                               OutcomeKind kind, const std::string& detail = "") {
        FileOutcome o;
        o.TimeMs = time;
        o.Task = task;
        o.SourceFolder = "/srv/scans/inbox";
        o.DestinationFolder = "/srv/accounts/" + task;
        o.File = file;
        o.Kind = kind;
        o.Detail = detail;
        if (kind == OutcomeKind::Moved)
            o.Size = 1234;
        return o;
    }

    // A file as a pass leaves it at its destination: the outcome names who it is there.
    static FileOutcome MovedFile(const TempDir& dir, const std::string& name) {
        FileOutcome o;
        o.TimeMs = QDateTime::currentMSecsSinceEpoch();
        o.Task = "Invoices";
        o.SourceFolder = dir / "in";
        o.DestinationFolder = dir / "out";
        o.File = name;
        o.Kind = OutcomeKind::Moved;
        const std::string path = dir.Write("out/" + name, "INVOICE " + name + "\n");
        struct stat st {};
        EXPECT_EQ(stat(path.c_str(), &st), 0);
        o.Size = st.st_size;
        o.Device = st.st_dev;
        o.Inode = st.st_ino;
        o.MTimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        return o;
    }

    static std::vector<QStringList> Rows(const TFRM_Activity& w) {
        std::vector<QStringList> rows;
        for (int r = 0; r < w.STG_Activity->rowCount(); ++r) {
            QStringList row;
            for (int c = 0; c < TFRM_Activity::ColCount; ++c)
                row << w.STG_Activity->item(r, c)->text();
            rows.push_back(row);
        }
        return rows;
    }
    static QStringList Column(const TFRM_Activity& w, int col) {
        QStringList texts;
        for (int r = 0; r < w.STG_Activity->rowCount(); ++r)
            texts << w.STG_Activity->item(r, col)->text();
        return texts;
    }
    static QStringList ComboTexts(const QComboBox* combo) {
        QStringList texts;
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
        return texts;
    }
    static void Choose(QComboBox* combo, const QString& text) {
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << qPrintable(text);
        combo->setCurrentIndex(index);
    }
    static void SelectFile(TFRM_Activity& w, const std::string& file) {
        for (size_t i = 0; i < w.Shown().size(); ++i)
            if (w.Shown()[i].Outcome.File == file) {
                w.STG_Activity->selectRow(static_cast<int>(i));
                return;
            }
        ADD_FAILURE() << file << " is not listed";
    }
};

TEST_F(ActivityTest, OutcomeSaysWhatMatchedAndWhyTextCouldNotBeRead) {
    ActivityStore store(ActivityStore::DefaultPath());
    store.RecordPass(
        kDay, kDay + 3000,
        {Outcome(kDay + 1000, "Accounts", "s.pdf", OutcomeKind::Moved,
                 "PDF text, page 2: ACME-7731"),
         Outcome(kDay + 2000, "Accounts", "t.pdf", OutcomeKind::TextUnreadable, "damaged")});
    CreateProgram();
    TFRM_Activity w(*App, &store);
    w.Show();
    EXPECT_EQ(
        Column(w, TFRM_Activity::ColOutcome),
        QStringList({"text could not be read: damaged", "moved: PDF text, page 2: ACME-7731"}));
    Choose(w.CMB_Kind, "text could not be read");
    EXPECT_EQ(Column(w, TFRM_Activity::ColFile), QStringList({"t.pdf"}));
}

TEST_F(ActivityTest, ListsTheHistoryNewestFirstAndFiltersIt) {
    ActivityStore store(ActivityStore::DefaultPath());
    const std::vector<FileOutcome> first = {
        Outcome(kDay + 1000, "Invoices", "a.pdf", OutcomeKind::Moved),
        Outcome(kDay + 2000, "Delivery notes", "d.txt", OutcomeKind::NameTaken)};
    const std::vector<FileOutcome> second = {
        Outcome(kDay + 60000, "Payroll", "p.txt", OutcomeKind::InUse),
        Outcome(kDay + 61000, "Invoices", "", OutcomeKind::PassError, "File access denied.")};
    store.RecordPass(kDay, kDay + 3000, first);
    store.RecordPass(kDay + 59000, kDay + 62000, second);
    CreateProgram();
    TFRM_Activity w(*App, &store);
    w.Show();

    const QString arrow = QString::fromUtf8(" → ");
    const std::vector<QStringList> all = {
        {TFRM_Activity::TimeText(kDay + 61000), "Invoices", "",
         "/srv/scans/inbox" + arrow + "/srv/accounts/Invoices", "error: File access denied."},
        {TFRM_Activity::TimeText(kDay + 60000), "Payroll", "p.txt",
         "/srv/scans/inbox" + arrow + "/srv/accounts/Payroll", "left (in use)"},
        {TFRM_Activity::TimeText(kDay + 2000), "Delivery notes", "d.txt",
         "/srv/scans/inbox" + arrow + "/srv/accounts/Delivery notes", "left (name taken)"},
        {TFRM_Activity::TimeText(kDay + 1000), "Invoices", "a.pdf",
         "/srv/scans/inbox" + arrow + "/srv/accounts/Invoices", "moved"}};
    EXPECT_EQ(Rows(w), all);

    // One line per pass, newest first, with the pass's summary.
    ASSERT_EQ(w.LST_Passes->count(), 2);
    EXPECT_EQ(w.LST_Passes->item(0)->text(), TFRM_Activity::TimeText(kDay + 59000) +
                                                 QString::fromUtf8(" — ") +
                                                 AnsiToQString(Summarise(second).Text()));
    EXPECT_EQ(w.LST_Passes->item(1)->text(), TFRM_Activity::TimeText(kDay) +
                                                 QString::fromUtf8(" — ") +
                                                 AnsiToQString(Summarise(first).Text()));

    // The filters: by task, by outcome, and both.
    EXPECT_EQ(ComboTexts(w.CMB_Task),
              QStringList({"All tasks", "Delivery notes", "Invoices", "Payroll"}));
    Choose(w.CMB_Task, "Invoices");
    EXPECT_EQ(Column(w, TFRM_Activity::ColFile), QStringList({"", "a.pdf"}));
    Choose(w.CMB_Kind, "moved");
    EXPECT_EQ(Column(w, TFRM_Activity::ColFile), QStringList({"a.pdf"}));
    Choose(w.CMB_Kind, "left (name taken)");
    EXPECT_EQ(w.STG_Activity->rowCount(), 0);
    Choose(w.CMB_Task, "All tasks");
    EXPECT_EQ(Column(w, TFRM_Activity::ColFile), QStringList({"d.txt"}));
    // A refresh (a pass recorded meanwhile) keeps the filters.
    store.RecordPass(kDay + 90000, kDay + 91000,
                     {Outcome(kDay + 90000, "Payroll", "q.txt", OutcomeKind::NameTaken),
                      Outcome(kDay + 90500, "Payroll", "r.txt", OutcomeKind::Moved)});
    w.Refresh();
    EXPECT_EQ(Column(w, TFRM_Activity::ColFile), QStringList({"q.txt", "d.txt"}));
    EXPECT_EQ(w.LST_Passes->count(), 3);
    Choose(w.CMB_Kind, "All outcomes");
    EXPECT_EQ(w.STG_Activity->rowCount(), 6);

    // Nothing to move back but a moved file.
    SelectFile(w, "p.txt");
    EXPECT_FALSE(w.BTN_MoveBack->isEnabled());
    SelectFile(w, "a.pdf");
    EXPECT_TRUE(w.BTN_MoveBack->isEnabled());

    // The notification switch is the settings', and stays through a Clear.
    EXPECT_TRUE(w.CHK_Notify->isChecked());
    QTest::mouseClick(w.CHK_Notify, Qt::LeftButton);
    EXPECT_EQ(StoredInteger("DesktopNotifications"), 0);

    // Clear asks first; No keeps everything.
    Prompts.Answers = {mrNo};
    QTest::mouseClick(w.BTN_Clear, Qt::LeftButton);
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages[0].Type, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(w.STG_Activity->rowCount(), 6);
    Prompts.Answers = {mrYes};
    QTest::mouseClick(w.BTN_Clear, Qt::LeftButton);
    EXPECT_EQ(w.STG_Activity->rowCount(), 0);
    EXPECT_EQ(w.LST_Passes->count(), 0);
    EXPECT_EQ(ComboTexts(w.CMB_Task), QStringList({"All tasks"}));
    EXPECT_TRUE(store.List({}).empty());
    EXPECT_FALSE(w.BTN_MoveBack->isEnabled());

    TFRM_Activity again(*App, &store);
    EXPECT_FALSE(again.CHK_Notify->isChecked());
}

TEST_F(ActivityTest, MoveBackRestoresTheFileOrSaysWhyNot) {
    TempDir files;
    files.MakeDir("in");
    const FileOutcome kept = MovedFile(files, "kept.txt");
    const FileOutcome changed = MovedFile(files, "changed.txt");
    const FileOutcome taken = MovedFile(files, "taken.txt");
    const FileOutcome gone = MovedFile(files, "gone.txt");
    ActivityStore store(ActivityStore::DefaultPath());
    store.RecordPass(kept.TimeMs, kept.TimeMs, {kept, changed, taken, gone});
    files.Write("out/changed.txt", "another text altogether, longer than before\n");
    files.Write("in/taken.txt", "a new file under the old name\n");
    std::remove((files / "out/gone.txt").c_str());

    CreateProgram();
    TFRM_Activity w(*App, &store);
    w.Show();
    for (const char* refused : {"changed.txt", "taken.txt", "gone.txt"}) {
        const size_t shown = Prompts.Messages.size();
        SelectFile(w, refused);
        ASSERT_TRUE(w.BTN_MoveBack->isEnabled()) << refused;
        QTest::mouseClick(w.BTN_MoveBack, Qt::LeftButton);
        ASSERT_EQ(Prompts.Messages.size(), shown + 1) << refused;
        EXPECT_EQ(Prompts.Messages.back().Type, TMsgDlgType::mtWarning);
        EXPECT_FALSE(Prompts.Messages.back().Message.empty()) << refused;
        EXPECT_TRUE(w.BTN_MoveBack->isEnabled()) << "nothing was moved back: " << refused;
    }
    EXPECT_EQ(TempDir::Read(files / "out/changed.txt"),
              "another text altogether, longer than before\n");
    EXPECT_EQ(TempDir::Read(files / "in/taken.txt"), "a new file under the old name\n");
    EXPECT_EQ(TempDir::Read(files / "out/taken.txt"), "INVOICE taken.txt\n");
    EXPECT_EQ(files.Entries("in"), std::vector<std::string>{"taken.txt"});

    const size_t shown = Prompts.Messages.size();
    SelectFile(w, "kept.txt");
    QTest::mouseClick(w.BTN_MoveBack, Qt::LeftButton);
    EXPECT_EQ(Prompts.Messages.size(), shown);
    EXPECT_EQ(TempDir::Read(files / "in/kept.txt"), "INVOICE kept.txt\n");
    EXPECT_FALSE(TempDir::Exists(files / "out/kept.txt"));
    // Still selected, shown as moved back, and not offered a second time.
    ASSERT_NE(w.Selected(), nullptr);
    EXPECT_EQ(w.Selected()->Outcome.File, "kept.txt");
    EXPECT_TRUE(w.Selected()->MovedBack);
    EXPECT_EQ(w.STG_Activity->item(w.STG_Activity->currentRow(), TFRM_Activity::ColOutcome)->text(),
              QStringLiteral("moved, then moved back"));
    EXPECT_FALSE(w.BTN_MoveBack->isEnabled());
    int movedBack = 0;
    for (const ActivityEntry& e : store.List({}))
        movedBack += e.MovedBack ? 1 : 0;
    EXPECT_EQ(movedBack, 1);

    // The Outcome filter finds what was moved back, right after "moved", which keeps them all.
    EXPECT_EQ(w.CMB_Kind->itemText(2), QStringLiteral("moved back"));
    Choose(w.CMB_Kind, "moved back");
    EXPECT_EQ(Column(w, TFRM_Activity::ColFile), QStringList({"kept.txt"}));
    Choose(w.CMB_Kind, "moved");
    EXPECT_EQ(w.STG_Activity->rowCount(), 4);
}

TEST_F(ActivityTest, WithoutAStoreTheWindowSaysSoAndOffersNothing) {
    CreateProgram();
    TFRM_Activity w(*App, nullptr);
    w.Show();
    EXPECT_TRUE(w.LBL_Unavailable->isVisible());
    EXPECT_FALSE(w.LST_Passes->isVisible());
    EXPECT_EQ(w.STG_Activity->rowCount(), 0);
    for (QWidget* control :
         std::initializer_list<QWidget*>{w.BTN_MoveBack, w.BTN_Clear, w.STG_Activity})
        EXPECT_FALSE(control->isEnabled()) << qPrintable(control->objectName());
    // The notification switch lives with the settings: it works without a history.
    EXPECT_TRUE(w.CHK_Notify->isEnabled());
    EXPECT_TRUE(w.BTN_Close->isEnabled());
    // Every caption fits its control in the window's font.
    for (QAbstractButton* b : w.findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
        const int room = qobject_cast<QCheckBox*>(b) ? b->width() - 18 : b->width() - 6;
        EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text().remove(QLatin1Char('&'))), room)
            << qPrintable(b->objectName());
    }
}

TEST_F(ActivityTest, StartWithTheSessionWritesAndRemovesTheAutostartEntry) {
    TempDir config;
    ScopedEnv configHome("XDG_CONFIG_HOME", config.Path());
    const std::string entry = config / "autostart/ferrydesk.desktop";
    CreateProgram();
    {
        TFRM_Activity w(*App, nullptr); // the session's switch needs no history
        w.Show();
        EXPECT_TRUE(w.CHK_Autostart->isEnabled());
        EXPECT_FALSE(w.CHK_Autostart->isChecked());
        QTest::mouseClick(w.CHK_Autostart, Qt::LeftButton);
        EXPECT_TRUE(w.CHK_Autostart->isChecked());
        ASSERT_TRUE(TempDir::Exists(entry));
        char self[4096] = {};
        ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
        EXPECT_NE(TempDir::Read(entry).find("\nExec=" + std::string(self) + "\n"),
                  std::string::npos)
            << TempDir::Read(entry);
    }
    {
        TFRM_Activity w(*App, nullptr);
        EXPECT_TRUE(w.CHK_Autostart->isChecked()) << "read from the entry when opened";
        QTest::mouseClick(w.CHK_Autostart, Qt::LeftButton);
        EXPECT_FALSE(w.CHK_Autostart->isChecked());
        EXPECT_FALSE(TempDir::Exists(entry));
        EXPECT_TRUE(Prompts.Messages.empty());
        // A folder that cannot be made: the box says why and stays unticked.
        ASSERT_EQ(rmdir((config / "autostart").c_str()), 0);
        config.Write("autostart", "a file where the folder should be");
        QTest::mouseClick(w.CHK_Autostart, Qt::LeftButton);
        EXPECT_FALSE(w.CHK_Autostart->isChecked());
        ASSERT_EQ(Prompts.Messages.size(), 1u);
        EXPECT_EQ(Prompts.Messages[0].Type, TMsgDlgType::mtWarning);
        EXPECT_EQ(Prompts.Messages[0].Message.rfind("cannot create " + config.Path(), 0), 0u)
            << Prompts.Messages[0].Message;
    }
}

// Where the link lands: the Activity window, shown.
void ClickLink(QLabel* link) {
    const int text = link->fontMetrics().horizontalAdvance(QString::fromUtf8("Activity…"));
    QTest::mouseClick(link, Qt::LeftButton, {},
                      QPoint(link->width() - text / 2, link->height() / 2));
}

TEST_F(ActivityTest, TheLinkSitsInTheFreeSpaceOfTheBottomLineAndOpensTheWindow) {
    StartProgram();
    TFRM_TaskList& main = *FRM_TaskList;
    // Every control of the window where it always was.
    const std::vector<std::pair<QWidget*, QRect>> places = {
        {main.LBL_TimeInterval, {8, 14, 163, 13}}, {main.TXT_TimeInterval, {176, 8, 31, 21}},
        {main.BTN_TimerSet, {214, 8, 75, 26}},     {main.STG_TaskList, {8, 41, 405, 179}},
        {main.BTN_RunNow, {420, 41, 93, 26}},      {main.BTN_AddNewTask, {420, 70, 93, 26}},
        {main.BTN_EditTask, {420, 98, 93, 26}},    {main.BTN_DelTask, {420, 126, 93, 26}},
        {main.BTN_Options, {420, 155, 93, 26}},    {main.BTN_MinOK, {420, 184, 93, 36}},
        {main.lbl_copyright, {8, 226, 269, 13}}};
    for (const auto& [control, place] : places)
        EXPECT_EQ(control->geometry(), place) << qPrintable(control->objectName());
    EXPECT_EQ(main.size(), QSize(521, 247));

    QLabel* link = main.LBL_Activity;
    const QRect at = link->geometry();
    EXPECT_TRUE(main.rect().contains(at));
    EXPECT_GT(at.left(), main.lbl_copyright->geometry().right()) << "right of the notice";
    EXPECT_EQ(at.top(), main.lbl_copyright->geometry().top()) << "on the bottom line";
    for (QWidget* other : main.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other != link) {
            EXPECT_FALSE(other->geometry().intersects(at)) << qPrintable(other->objectName());
        }
    }
    EXPECT_LE(link->fontMetrics().horizontalAdvance(QString::fromUtf8("Activity…")), at.width());
    EXPECT_EQ(link->focusPolicy(), Qt::NoFocus) << "the tab order stays as it was";

    ClickLink(link);
    TFRM_Activity* window = main.FRM_Activity;
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(main.isVisible()) << "the history is read beside the main window";
    window->hide();
    ClickLink(link);
    EXPECT_EQ(main.FRM_Activity, window) << "one Activity window, shown again";
    EXPECT_TRUE(window->isVisible());
    QTest::mouseClick(window->BTN_Close, Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
}

// Real passes, as the user meets them: one notification for a pass that moved or left files,
// none for a pass that found nothing, none once they are turned off.
TEST_F(ActivityTest, OneNotificationForAPassThatMovedOrLeftFiles) {
    TempDir files;
    for (const char* folder : {"inv", "inv-out", "notes", "notes-out", "buero", "pay", "out"})
        files.MakeDir(folder);
    for (const char* name : {"1.pdf", "2.pdf", "3.pdf"})
        files.Write(std::string("inv/") + name, "MATCH");
    files.Write("notes/4.pdf", "MATCH");
    files.Write("notes-out/4.pdf", "older");
    StoreTasks({{"Invoices", files / "inv", files / "inv-out", "MATCH"},
                {"Delivery notes", files / "notes", files / "notes-out", "MATCH"},
                {"B\xFCro", files / "buero", files / "out", "MATCH"},
                {"Payroll", files / "pay", files / "out", "MATCH"}});
    StartProgram();
    auto pass = [] {
        QTest::mouseClick(FRM_TaskList->BTN_RunNow, Qt::LeftButton);
        EXPECT_TRUE(SettlePass());
    };
    pass();
    ASSERT_EQ(Balloons.size(), 1u);
    EXPECT_EQ(Balloons[0].first, QStringLiteral("Ferrydesk"));
    EXPECT_EQ(Balloons[0].second,
              QStringLiteral("Invoices: 3 files moved; Delivery notes: 1 left (name taken)"));

    // The user takes the file whose name was taken away: the next pass finds nothing.
    ASSERT_EQ(unlink((files / "notes/4.pdf").c_str()), 0);
    pass();
    EXPECT_EQ(Passes.size(), 2u);
    EXPECT_EQ(Balloons.size(), 1u) << "nothing to tell of a pass without outcomes";

    // Clicking the notification opens the Activity window, which reads each new pass.
    emit FRM_TaskList->TrayIcon->messageClicked();
    TFRM_Activity* window = FRM_TaskList->FRM_Activity;
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->STG_Activity->rowCount(), 4);
    // A task name is the code page's bytes: shown as the characters they stand for, and
    // filtered by exactly those bytes.
    files.Write("buero/5.pdf", "MATCH");
    {
        ReadHolder holder(files / "buero/5.pdf");
        ASSERT_TRUE(holder.Ready());
        pass();
        EXPECT_EQ(holder.Release(), 0);
    }
    ASSERT_EQ(unlink((files / "buero/5.pdf").c_str()), 0);
    EXPECT_EQ(window->STG_Activity->rowCount(), 5);
    ASSERT_EQ(Balloons.size(), 2u);
    EXPECT_EQ(Balloons[1].second, QString::fromUtf8("Büro: 1 left (in use)"));
    Choose(window->CMB_Task, QString::fromUtf8("Büro"));
    EXPECT_EQ(Column(*window, TFRM_Activity::ColFile), QStringList({"5.pdf"}));
    Choose(window->CMB_Task, QStringLiteral("All tasks"));

    // Turned off in the window: no more notifications, the history still kept.
    QTest::mouseClick(window->CHK_Notify, Qt::LeftButton);
    files.Write("pay/6.pdf", "MATCH");
    pass();
    EXPECT_EQ(Balloons.size(), 2u);
    EXPECT_EQ(window->STG_Activity->rowCount(), 6);
}

// As the user meets it: a real pass moves two files and leaves one whose name is taken; the
// Activity window shows exactly those, moves one back, and still shows them after a restart.
TEST_F(ActivityTest, APassItsHistoryMoveBackAndARestart) {
    TempDir files;
    const std::string in = files.MakeDir("in");
    const std::string out = files.MakeDir("out");
    files.Write("in/a.txt", "INVOICE 1\n");
    files.Write("in/b.txt", "INVOICE 2\n");
    files.Write("in/c.txt", "INVOICE 3\n");
    files.Write("in/d.txt", "a letter\n");
    files.Write("out/c.txt", "the older c\n");
    StoreTasks({{"Invoices", in, out, "INVOICE"}});
    StartProgram();
    QTest::mouseClick(FRM_TaskList->BTN_RunNow, Qt::LeftButton);
    ASSERT_TRUE(SettlePass());
    EXPECT_TRUE(Prompts.Errors.empty());
    EXPECT_EQ(files.Entries("in"), (std::vector<std::string>{"c.txt", "d.txt"}));
    EXPECT_EQ(files.Entries("out"), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    ASSERT_EQ(Balloons.size(), 1u);
    EXPECT_EQ(Balloons[0].second, QStringLiteral("Invoices: 2 files moved, 1 left (name taken)"));

    auto listed = [] {
        std::vector<std::string> lines;
        const TFRM_Activity& w = *FRM_TaskList->FRM_Activity;
        for (int r = 0; r < w.STG_Activity->rowCount(); ++r)
            lines.push_back((w.STG_Activity->item(r, TFRM_Activity::ColTask)->text() + " | " +
                             w.STG_Activity->item(r, TFRM_Activity::ColFile)->text() + " | " +
                             w.STG_Activity->item(r, TFRM_Activity::ColOutcome)->text())
                                .toStdString());
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    ClickLink(FRM_TaskList->LBL_Activity);
    ASSERT_NE(FRM_TaskList->FRM_Activity, nullptr);
    EXPECT_EQ(listed(),
              (std::vector<std::string>{"Invoices | a.txt | moved", "Invoices | b.txt | moved",
                                        "Invoices | c.txt | left (name taken)"}));
    ASSERT_EQ(FRM_TaskList->FRM_Activity->LST_Passes->count(), 1);
    EXPECT_TRUE(FRM_TaskList->FRM_Activity->LST_Passes->item(0)->text().endsWith(
        QString::fromUtf8(" — Invoices: 2 files moved, 1 left (name taken)")));

    SelectFile(*FRM_TaskList->FRM_Activity, "a.txt");
    QTest::mouseClick(FRM_TaskList->FRM_Activity->BTN_MoveBack, Qt::LeftButton);
    EXPECT_EQ(TempDir::Read(in + "/a.txt"), "INVOICE 1\n");
    EXPECT_EQ(files.Entries("out"), (std::vector<std::string>{"b.txt", "c.txt"}));

    // A restart: new windows, the history opened afresh from the same state folder.
    App.reset();
    Balloons.clear();
    StartProgram();
    ClickLink(FRM_TaskList->LBL_Activity);
    ASSERT_NE(FRM_TaskList->FRM_Activity, nullptr);
    EXPECT_EQ(listed(), (std::vector<std::string>{"Invoices | a.txt | moved, then moved back",
                                                  "Invoices | b.txt | moved",
                                                  "Invoices | c.txt | left (name taken)"}));
    EXPECT_TRUE(Balloons.empty());
}

// Earlier versions kept the notification switch in the history: the first start carries it
// into the settings and forgets it there; the settings decide from then on.
TEST_F(ActivityTest, ASwitchTheHistoryKeptIsCarriedIntoTheSettingsOnce) {
    InitialiseDefaults();
    const std::string path = ActivityStore::DefaultPath();
    { ActivityStore made(path); }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "INSERT INTO preference VALUES('DesktopNotifications', 0)", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    TempDir files;
    files.Write("in/a.txt", "MATCH");
    files.MakeDir("out");
    StoreTasks({{"T", files / "in", files / "out", "MATCH"}});
    StartProgram();
    EXPECT_EQ(StoredInteger("DesktopNotifications"), 0);
    QTest::mouseClick(FRM_TaskList->BTN_RunNow, Qt::LeftButton);
    ASSERT_TRUE(SettlePass());
    EXPECT_EQ(files.Entries("out"), std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(Balloons.empty());
    int left = -1;
    ASSERT_EQ(sqlite3_exec(
                  db, "SELECT count(*) FROM preference",
                  [](void* out, int, char** values, char**) {
                      *static_cast<int*>(out) = std::atoi(values[0]);
                      return 0;
                  },
                  &left, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(left, 0);

    // Turned on again in the settings: a restart does not bring the old switch back.
    App.reset();
    StoreInteger("DesktopNotifications", 1);
    files.Write("in/b.txt", "MATCH");
    StartProgram();
    QTest::mouseClick(FRM_TaskList->BTN_RunNow, Qt::LeftButton);
    ASSERT_TRUE(SettlePass());
    EXPECT_EQ(StoredInteger("DesktopNotifications"), 1);
    ASSERT_EQ(Balloons.size(), 1u);
    EXPECT_EQ(Balloons[0].second, QStringLiteral("T: 1 file moved"));
}

// Another program holds the history while passes run: the files move all the same, the user
// is told once in a notification and for as long as it lasts in the window, Clear answers at
// once in plain words, and the next pass the history takes ends it all.
TEST_F(ActivityTest, PassesTheHistoryCannotTakeAreToldOnceAndShownUntilItWorksAgain) {
    TempDir files;
    const std::string in = files.MakeDir("in"), out = files.MakeDir("out");
    StoreTasks({{"Invoices", in, out, "INVOICE"}});
    StartProgram();
    ASSERT_NE(FRM_TaskList->Activity(), nullptr);
    HiveHolder holder;
    std::string why;
    ASSERT_TRUE(holder.Hold(ActivityStore::DefaultPath(), why)) << why;
    const QString reason = QStringLiteral("another program is using the history right now");
    auto pass = [&](const char* file) {
        files.Write(std::string("in/") + file, "INVOICE\n");
        QTest::mouseClick(FRM_TaskList->BTN_RunNow, Qt::LeftButton);
        ASSERT_TRUE(SettlePass());
    };
    pass("a.txt");
    pass("b.txt");
    EXPECT_EQ(files.Entries("out"), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(Prompts.Errors.empty());
    ASSERT_EQ(Balloons.size(), 2u);
    EXPECT_EQ(Balloons[0].second, "Invoices: 1 file moved\nThe history cannot record passes: " +
                                      reason + ". The files are moved all the same.");
    EXPECT_EQ(Balloons[1].second, QStringLiteral("Invoices: 1 file moved")) << "told once only";

    ClickLink(FRM_TaskList->LBL_Activity);
    TFRM_Activity* w = FRM_TaskList->FRM_Activity;
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->LBL_NotRecorded->isVisible());
    EXPECT_TRUE(
        w->LBL_NotRecorded->toolTip().endsWith("are not recorded (2 so far): " + reason + "."))
        << qPrintable(w->LBL_NotRecorded->toolTip());
    Prompts.Answers = {mrYes};
    const auto start = std::chrono::steady_clock::now();
    QTest::mouseClick(w->BTN_Clear, Qt::LeftButton);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    ASSERT_EQ(Prompts.Messages.size(), 2u);
    EXPECT_EQ(Prompts.Messages[1].Message, "The history could not be cleared: " +
                                               reason.toStdString() + ". Try again in a moment.");

    holder.Release();
    pass("c.txt");
    EXPECT_FALSE(w->LBL_NotRecorded->isVisible());
    EXPECT_EQ(Column(*w, TFRM_Activity::ColFile), QStringList({"c.txt"}));
    EXPECT_EQ(Balloons.back().second, QStringLiteral("Invoices: 1 file moved"));
}

// A database of another kind where the history belongs: refused before anything in it
// changes (its journal mode too), and named in the window.
TEST_F(ActivityTest, AForeignDatabaseAtTheHistorysPlaceIsLeftAsFoundAndNamed) {
    const std::string path = ActivityStore::DefaultPath();
    State.MakeDir(path.substr(State.Path().size() + 1, path.rfind('/') - State.Path().size() - 1));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('mine')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string before = TempDir::Read(path);
    StartProgram();
    EXPECT_EQ(FRM_TaskList->Activity(), nullptr);
    ClickLink(FRM_TaskList->LBL_Activity);
    TFRM_Activity* w = FRM_TaskList->FRM_Activity;
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->LBL_Unavailable->isVisible());
    EXPECT_EQ(w->LBL_Unavailable->text(),
              QString::fromStdString("The history could not be opened, so passes are not "
                                     "recorded: '" +
                                     path +
                                     "' is not a history of this program; it is left as "
                                     "it is."));
    EXPECT_EQ(TempDir::Read(path), before);
    EXPECT_FALSE(TempDir::Exists(path + "-wal"));
}

} // namespace
} // namespace ferry::test
