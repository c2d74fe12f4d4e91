#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>

#include "ui/frm_add_task.h"
#include "ui/frm_edit_task.h"
#include "ui/frm_options.h"
#include "ui/frm_task_list.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

constexpr uint64_t kMinute = 60000;

// The control Tab moves to from `w`.
QWidget* NextTabStop(QWidget* w) {
    QWidget* next = w->nextInFocusChain();
    while (next != w && !((next->focusPolicy() & Qt::TabFocus) && next->isEnabled() &&
                          next->isVisibleTo(w->window())))
        next = next->nextInFocusChain();
    return next;
}

class MainWindow : public ProgramTest {
protected:
    void SetInterval(const char* text) {
        FRM_TaskList->TXT_TimeInterval->clear();
        QTest::keyClicks(FRM_TaskList->TXT_TimeInterval, QString::fromLatin1(text));
        QTest::mouseClick(FRM_TaskList->BTN_TimerSet, Qt::LeftButton);
    }
    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    // One task in the table, so that every pass leaves a trace.
    void StartWithOneTask() {
        StoreTasks({{"t", "/watched", "/target", "x"}});
        StartProgram();
    }
};

TEST_F(MainWindow, FirstStartCreatesTheDefaultsAndShowsIntervalTen) {
    StartProgram();
    EXPECT_TRUE(FRM_TaskList->isVisible());
    EXPECT_EQ(FRM_TaskList->windowTitle(), QStringLiteral("Ferrydesk by Quillmere"));
    EXPECT_EQ(FRM_TaskList->TXT_TimeInterval->text(), QStringLiteral("10"));
    EXPECT_EQ(FRM_TaskList->Table().RowCount(), 2);
    EXPECT_EQ(Timer->Interval(), 10 * kMinute);
    EXPECT_EQ(StoredInteger("ProcessInterval"), 10);
    EXPECT_EQ(StoredInteger("NumberOfEntries"), 0);
    EXPECT_EQ(StoredString("SMTPMessage"), "Files have been processed.");
    EXPECT_TRUE(Prompts.Errors.empty());
}

TEST_F(MainWindow, IntervalsOnTheManualClock) {
    StartWithOneTask();
    // 0: nothing runs by itself, but Run Tasks Now still works.
    SetInterval("0");
    Timer->AdvanceMinutes(600);
    EXPECT_TRUE(Passes.empty());
    Click(FRM_TaskList->BTN_RunNow);
    ASSERT_TRUE(SettlePass());
    EXPECT_EQ(Passes.size(), 1u);
    EXPECT_EQ(StoredInteger("ProcessInterval"), 0);

    // 1: one minute after the window was last shown, then one minute after each pass.
    Passes.clear();
    SetInterval("1");
    FRM_TaskList->hide();
    Timer->Advance(20000);
    FRM_TaskList->Show(); // the show restarts the countdown
    Timer->Advance(kMinute - 1);
    EXPECT_TRUE(Passes.empty());
    Timer->Advance(1);
    EXPECT_EQ(Passes.size(), 1u);
    Timer->AdvanceMinutes(2);
    EXPECT_EQ(Passes.size(), 3u);

    // 5 after 3 minutes of a 10-minute period: the next pass is 5 minutes after the Set.
    Passes.clear();
    SetInterval("10");
    FRM_TaskList->hide();
    FRM_TaskList->Show();
    Timer->AdvanceMinutes(3);
    SetInterval("5");
    Timer->Advance(5 * kMinute - 1);
    EXPECT_TRUE(Passes.empty());
    Timer->Advance(1);
    EXPECT_EQ(Passes.size(), 1u);

    // 10 again after 3 minutes of a 10-minute period: still 7 minutes to go.
    Passes.clear();
    SetInterval("10");
    FRM_TaskList->hide();
    FRM_TaskList->Show();
    Timer->AdvanceMinutes(3);
    SetInterval("10");
    Timer->Advance(7 * kMinute - 1);
    EXPECT_TRUE(Passes.empty());
    Timer->Advance(1);
    EXPECT_EQ(Passes.size(), 1u);
    EXPECT_EQ(StoredInteger("ProcessInterval"), 10);
}

TEST_F(MainWindow, IntervalFieldTakesTwoDigitsOnly) {
    StartProgram();
    QLineEdit* field = FRM_TaskList->TXT_TimeInterval;
    field->clear();
    QTest::keyClicks(field, QStringLiteral("a"));
    EXPECT_EQ(field->text(), QString());
    QTest::keyClicks(field, QStringLiteral("123"));
    EXPECT_EQ(field->text(), QStringLiteral("12"));
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), QStringLiteral("1"));
    QTest::keyClicks(field, QStringLiteral("-+ x"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->text(), QStringLiteral("1"));
    // Typing over a selection replaces it, within the two characters.
    QTest::keyClicks(field, QStringLiteral("9"));
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("45"));
    EXPECT_EQ(field->text(), QStringLiteral("45"));
    // Tab is not a character for the field: it moves the focus as everywhere else.
    QApplication::setActiveWindow(FRM_TaskList);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), FRM_TaskList->BTN_TimerSet);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), FRM_TaskList->BTN_RunNow);
    EXPECT_EQ(field->text(), QStringLiteral("45"));
    // A paste is not filtered, but it only fills the room the two characters leave.
    QGuiApplication::clipboard()->setText(QStringLiteral("a9876"));
    field->clear();
    field->paste();
    EXPECT_EQ(field->text(), QStringLiteral("a9"));
    field->setText(QStringLiteral("4"));
    field->setCursorPosition(0);
    field->paste();
    EXPECT_EQ(field->text(), QStringLiteral("a4"));
    EXPECT_EQ(field->cursorPosition(), 1);
    field->paste();
    EXPECT_EQ(field->text(), QStringLiteral("a4"));
    EXPECT_EQ(TFRM_TaskList::FilterDigitKey('7'), '7');
    EXPECT_EQ(TFRM_TaskList::FilterDigitKey('\b'), '\b');
    EXPECT_EQ(TFRM_TaskList::FilterDigitKey('\t'), 0);
    EXPECT_EQ(TFRM_TaskList::FilterDigitKey('$'), 0);
}

TEST_F(MainWindow, AStoredIntervalTooLongForTheTimerIsShownAsStoredAndHeldAtTheLongest) {
    StoreTasks({});
    StoreInteger("ProcessInterval", 71583); // times 60000 wraps 32 bits to about 13 seconds
    StartProgram();
    EXPECT_EQ(FRM_TaskList->TXT_TimeInterval->text(), QStringLiteral("71583"));
    // Shown whole, and it can still be shortened by hand.
    QTest::keyClick(FRM_TaskList->TXT_TimeInterval, Qt::Key_Backspace);
    EXPECT_EQ(FRM_TaskList->TXT_TimeInterval->text(), QStringLiteral("7158"));
    EXPECT_EQ(Timer->Interval(), kLongestTimerPeriod);
    Timer->AdvanceMinutes(60 * 24);
    EXPECT_EQ(Timer->Ticks(), 0);
}

TEST_F(MainWindow, SetWithABadFieldShowsTheConversionErrorAndKeepsThePeriod) {
    StartProgram();
    SetInterval("3");
    FRM_TaskList->TXT_TimeInterval->clear();
    Click(FRM_TaskList->BTN_TimerSet);
    ASSERT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_EQ(Prompts.Errors[0], "'' is not a valid integer value.");
    EXPECT_EQ(Timer->Interval(), 3 * kMinute);
    EXPECT_EQ(StoredInteger("ProcessInterval"), 3);
    // Text pasted past the key filter is checked too.
    FRM_TaskList->TXT_TimeInterval->setText(QStringLiteral("4 "));
    Click(FRM_TaskList->BTN_TimerSet);
    ASSERT_EQ(Prompts.Errors.size(), 2u);
    EXPECT_EQ(Prompts.Errors[1], "'4 ' is not a valid integer value.");
    EXPECT_EQ(Timer->Interval(), 3 * kMinute);
}

TEST_F(MainWindow, EditAndDeleteOnTheBlankRowOnlyRestartTheCountdown) {
    StoreTasks({{"one", "/a", "/b", "m"}});
    StartProgram();
    TaskTable& table = FRM_TaskList->Table();
    table.SetRow(2); // the blank row
    for (QPushButton* button : {FRM_TaskList->BTN_EditTask, FRM_TaskList->BTN_DelTask}) {
        Timer->AdvanceMinutes(4);
        Click(button);
        EXPECT_TRUE(FRM_TaskList->isVisible());
        EXPECT_FALSE(FRM_EditTask->isVisible());
        EXPECT_EQ(table.RowCount(), 3);
        EXPECT_EQ(table.TaskAt(1).Identifier, "one");
        EXPECT_TRUE(Timer->Enabled());
        const int ticks = Timer->Ticks();
        Timer->Advance(10 * kMinute - 1);
        EXPECT_EQ(Timer->Ticks(), ticks) << "the countdown was not restarted";
        Timer->Advance(1);
        EXPECT_EQ(Timer->Ticks(), ticks + 1);
    }
    EXPECT_TRUE(Prompts.Messages.empty());
}

TEST_F(MainWindow, DeleteRemovesTheCurrentTaskAndSavesAtOnce) {
    StoreTasks({{"one", "/a", "/b", "m1"}, {"two", "/c", "/d", "m2"}, {"three", "/e", "/f", "m3"}});
    StartProgram();
    TaskTable& table = FRM_TaskList->Table();
    // Clicking a cell makes its row current.
    QTableView* grid = FRM_TaskList->STG_TaskList;
    const QRect cell = grid->visualRect(grid->model()->index(0, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(table.Row(), 1);
    EXPECT_EQ(grid->currentIndex().column(), 3) << "the current cell is the last column";
    EXPECT_EQ(grid->selectionModel()->selectedIndexes().size(), 4);
    Click(FRM_TaskList->BTN_DelTask);
    EXPECT_EQ(table.RowCount(), 4);
    EXPECT_EQ(table.TaskAt(1).Identifier, "two");
    EXPECT_EQ(table.Cell(0, 1), "1");
    EXPECT_EQ(StoredInteger("NumberOfEntries"), 2);
    EXPECT_EQ(StoredTask(1).Identifier, "two");
    EXPECT_EQ(StoredTask(2).Identifier, "three");
    EXPECT_EQ(StoredTask(3).Identifier, "three") << "entries past the count are left alone";
    EXPECT_TRUE(Timer->Enabled());
}

// A real double click arrives as press, release, double click, release; the first press
// moves the current row, and that must not make the view forget the pressed cell.
TEST_F(MainWindow, DoubleClickOnARowThatIsNotCurrentEditsThatRow) {
    StoreTasks({{"one", "/a", "/b", "m1"}, {"two", "/c", "/d", "m2"}, {"three", "/e", "/f", "m3"}});
    StartProgram();
    TaskTable& table = FRM_TaskList->Table();
    table.SetRow(4); // the blank row
    QTableView* grid = FRM_TaskList->STG_TaskList;
    EXPECT_EQ(grid->currentIndex().row(), 3);
    const QPoint at = grid->visualRect(grid->model()->index(2, 0)).center();
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(table.Row(), 3);
    EXPECT_EQ(grid->currentIndex().column(), 3) << "the current cell is the last column";
    EXPECT_EQ(grid->selectionModel()->selectedIndexes().size(), 4);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(FRM_EditTask->isVisible()) << "one double click opens Edit Task";
    EXPECT_FALSE(FRM_TaskList->isVisible());
    EXPECT_EQ(table.Row(), 3);
}

TEST_F(MainWindow, TrayClicksShowAndHide) {
    StartProgram();
    ASSERT_NE(FRM_TaskList->TrayIcon, nullptr);
    EXPECT_EQ(FRM_TaskList->TrayIcon->toolTip(), QStringLiteral("Ferrydesk"));
    EXPECT_TRUE(FRM_TaskList->TrayIcon->isVisible());
    FRM_TaskList->TrayMessage(WM_RBUTTONDOWN);
    EXPECT_FALSE(FRM_TaskList->isVisible());
    // A left click shows it; the show saves.
    MarkCountUnsaved();
    emit FRM_TaskList->TrayIcon->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(FRM_TaskList->isVisible());
    EXPECT_TRUE(CountSaved());
    // A left click on a visible window only raises it: no second save.
    MarkCountUnsaved();
    emit FRM_TaskList->TrayIcon->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(CountSaved());
    emit FRM_TaskList->TrayIcon->activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(FRM_TaskList->isVisible());
    FRM_TaskList->TrayMessage(0x200); // a mouse move does nothing
    EXPECT_FALSE(FRM_TaskList->isVisible());
    FRM_TaskList->Show();
    Click(FRM_TaskList->BTN_MinOK);
    EXPECT_FALSE(FRM_TaskList->isVisible());
    EXPECT_TRUE(FRM_TaskList->TrayIcon->isVisible());
}

// A dialog that a window manager minimised anyway comes back with a left click on the tray
// icon; the main window stays hidden and the scheduler paused while the dialog is open.
TEST_F(MainWindow, ATrayClickBringsBackAMinimisedDialog) {
    StartProgram();
    for (QWidget* dialog :
         {static_cast<QWidget*>(FRM_AddTask), static_cast<QWidget*>(FRM_Options)}) {
        Click(dialog == FRM_AddTask ? FRM_TaskList->BTN_AddNewTask : FRM_TaskList->BTN_Options);
        ASSERT_TRUE(dialog->isVisible());
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
        dialog->setWindowState(Qt::WindowMinimized);
        ASSERT_TRUE(dialog->isMinimized());
        emit FRM_TaskList->TrayIcon->activated(QSystemTrayIcon::Trigger);
        EXPECT_FALSE(dialog->isMinimized());
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_FALSE(FRM_TaskList->isVisible());
        EXPECT_FALSE(Timer->Enabled());
        dialog->hide();
        FRM_TaskList->Show();
    }
    // With no dialog minimised a left click shows the main window as before.
    FRM_TaskList->TrayMessage(WM_RBUTTONDOWN);
    emit FRM_TaskList->TrayIcon->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(FRM_TaskList->isVisible());
}

TEST_F(MainWindow, WithoutATrayTheWindowIsNeverHiddenOutOfReach) {
    Tray = false;
    StartProgram();
    Click(FRM_TaskList->BTN_MinOK);
    EXPECT_TRUE(FRM_TaskList->isVisible());
    EXPECT_TRUE(FRM_TaskList->isMinimized());
    FRM_TaskList->TrayMessage(WM_RBUTTONDOWN);
    EXPECT_TRUE(FRM_TaskList->isVisible());
    FRM_TaskList->Show();
    EXPECT_FALSE(FRM_TaskList->isMinimized());
}

TEST_F(MainWindow, QuitQuestionDecidesTheClose) {
    StartProgram();
    Prompts.Answers = {mrNo};
    FRM_TaskList->close();
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages[0].Message, "Do you really want to Quit the Program?");
    EXPECT_EQ(Prompts.Messages[0].Type, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(Prompts.Messages[0].Buttons, Btn(mbYes) | Btn(mbNo));
    EXPECT_TRUE(FRM_TaskList->isVisible());
    EXPECT_TRUE(FRM_TaskList->TrayIcon->isVisible());
    EXPECT_TRUE(Timer->Enabled());
    EXPECT_FALSE(App->Terminated());

    // The box's own close box (Cancel) lets the program end.
    Prompts.Answers = {mrCancel};
    FRM_TaskList->close();
    EXPECT_FALSE(FRM_TaskList->isVisible());
    EXPECT_FALSE(FRM_TaskList->TrayIcon->isVisible());
    EXPECT_TRUE(App->Terminated());
}

TEST_F(MainWindow, QuitQuestionYesEndsTheProgram) {
    StartProgram();
    Prompts.Answers = {mrYes};
    FRM_TaskList->close();
    EXPECT_TRUE(App->Terminated());
    EXPECT_FALSE(FRM_TaskList->isVisible());
}

TEST_F(MainWindow, AMissingIntervalAtStartGivesOneErrorAndAThirtySecondTimer) {
    StoreTasks({{"one", "/a", "/b", "m1"}, {"two", "/c", "/d", "m2"}});
    {
        TRegistryKey key;
        ASSERT_TRUE(OpenSettingsKey(key));
        ASSERT_EQ(RegDeleteValue(key.Handle(), "ProcessInterval"), ERROR_SUCCESS);
    }
    StartProgram();
    ASSERT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_EQ(Prompts.Errors[0], "Failed to get data for 'ProcessInterval'");
    EXPECT_TRUE(FRM_TaskList->isVisible());
    EXPECT_EQ(FRM_TaskList->TXT_TimeInterval->text(), QString());
    EXPECT_EQ(Timer->Interval(), 30000u);
    EXPECT_TRUE(Timer->Enabled());
    // The load never reached the tasks: the show must not store the empty table over them.
    EXPECT_FALSE(FRM_TaskList->LoadCompleted());
    EXPECT_EQ(StoredInteger("NumberOfEntries"), 2);
    EXPECT_EQ(StoredTask(2).Identifier, "two");
    // The window works on: Run Tasks Now and the 30-second ticks.
    Timer->Advance(30000);
    EXPECT_EQ(Timer->Ticks(), 1);
    EXPECT_EQ(Prompts.Errors.size(), 1u);
}

TEST_F(MainWindow, AFullTableRefusesAnotherTask) {
    StartProgram();
    TaskTable& table = FRM_TaskList->Table();
    for (int i = 0; i < MaxTaskEntries; ++i)
        table.AppendTask({"t" + std::to_string(i), "/a", "/b", "m"});
    Click(FRM_TaskList->BTN_AddNewTask);
    EXPECT_FALSE(FRM_AddTask->isVisible());
    EXPECT_TRUE(FRM_TaskList->isVisible());
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages[0].Message, "The task list is full: it holds at most 253 tasks");
    EXPECT_TRUE(Timer->Enabled());
}

TEST_F(MainWindow, LayoutAndTabOrder) {
    StartProgram();
    EXPECT_EQ(FRM_TaskList->size(), QSize(521, 247));
    EXPECT_EQ(FRM_TaskList->STG_TaskList->geometry(), QRect(8, 41, 405, 179));
    EXPECT_EQ(FRM_TaskList->BTN_MinOK->geometry(), QRect(420, 184, 93, 36));
    const std::vector<QWidget*> order = {
        FRM_TaskList->TXT_TimeInterval, FRM_TaskList->BTN_TimerSet, FRM_TaskList->BTN_AddNewTask,
        FRM_TaskList->BTN_EditTask,     FRM_TaskList->BTN_DelTask,  FRM_TaskList->BTN_Options,
        FRM_TaskList->BTN_MinOK,        FRM_TaskList->STG_TaskList, FRM_TaskList->BTN_RunNow};
    for (size_t i = 0; i + 1 < order.size(); ++i)
        EXPECT_EQ(NextTabStop(order[i]), order[i + 1]) << i;
    EXPECT_EQ(NextTabStop(order.back()), order.front());
    // Every caption fits its control in the font the window uses.
    for (QPushButton* b : FRM_TaskList->findChildren<QPushButton*>()) {
        for (const QString& line : b->text().remove(QLatin1Char('&')).split(QLatin1Char('\n')))
            EXPECT_LE(b->fontMetrics().horizontalAdvance(line), b->width() - 6)
                << qPrintable(b->objectName());
    }
    EXPECT_LE(FRM_TaskList->LBL_TimeInterval->fontMetrics().horizontalAdvance(
                  FRM_TaskList->LBL_TimeInterval->text()),
              FRM_TaskList->LBL_TimeInterval->width());
}

} // namespace
} // namespace ferry::test
