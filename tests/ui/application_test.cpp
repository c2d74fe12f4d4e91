#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "base/exception.h"
#include "ui/frm_add_task.h"
#include "ui/frm_edit_task.h"
#include "ui/frm_options.h"
#include "ui/frm_task_list.h"
#include "ui/guard.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

class Shell : public ProgramTest {};

TEST_F(Shell, TheWindowsAreCreatedHiddenAndTheLoopShowsTheMainWindow) {
    StoreTasks({{"one", "/a", "/b", "m"}});
    CreateProgram();
    ASSERT_NE(FRM_TaskList, nullptr);
    ASSERT_NE(FRM_AddTask, nullptr);
    ASSERT_NE(FRM_Options, nullptr);
    ASSERT_NE(FRM_EditTask, nullptr);
    for (QWidget* w :
         std::initializer_list<QWidget*>{FRM_TaskList, FRM_AddTask, FRM_Options, FRM_EditTask})
        EXPECT_FALSE(w->isVisible()) << qPrintable(w->objectName());
    EXPECT_EQ(FRM_TaskList->Table().RowCount(), 3);
    EXPECT_FALSE(App->Icon.availableSizes().empty());
    EXPECT_TRUE(App->Icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(App->Icon.availableSizes().contains(QSize(32, 32)));

    // The loop: the main window shows (and saves), then Yes to the quit question ends it.
    MarkCountUnsaved();
    bool wasVisible = false;
    QTimer::singleShot(0, [&] {
        wasVisible = FRM_TaskList->isVisible();
        Prompts.Answers = {mrYes};
        FRM_TaskList->close();
    });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(3); }); // bound the wait
    EXPECT_EQ(App->Run(), 0);
    EXPECT_TRUE(wasVisible);
    EXPECT_TRUE(CountSaved());
    EXPECT_EQ(StoredInteger("NumberOfEntries"), 1);
    EXPECT_EQ(FRM_TaskList, nullptr) << "the windows are gone after the loop";
    EXPECT_EQ(FRM_EditTask, nullptr);
    // While the program ends, a box is not shown and gives Cancel.
    EXPECT_EQ(MessageDlg("late", TMsgDlgType::mtConfirmation, Btn(mbYes) | Btn(mbNo)), mrCancel);
}

TEST_F(Shell, AConfirmedLogOffEndsTheProgramWithoutAskingEvenWithADialogOpen) {
    StoreTasks({{"one", "/a", "/b", "m"}});
    CreateProgram();
    QTimer::singleShot(0, [&] {
        QTest::mouseClick(FRM_TaskList->BTN_Options, Qt::LeftButton);
        // What the session manager sends once the log-off is decided.
        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(qApp, &quit);
    });
    QObject bound;
    bool timedOut = false;
    QTimer::singleShot(5000, &bound, [&] {
        timedOut = true;
        QCoreApplication::exit(3);
    });
    EXPECT_EQ(App->Run(), 0);
    EXPECT_FALSE(timedOut) << "the loop did not end";
    EXPECT_TRUE(Prompts.Messages.empty());
    EXPECT_TRUE(Prompts.Errors.empty());
    EXPECT_EQ(FRM_Options, nullptr);
}

TEST_F(Shell, TheGuardShowsEveryErrorAndLetsNothingOut) {
    CreateProgram();
    RunGuarded([] { throw EInOutError(32); });
    RunGuarded([] { throw std::runtime_error("std error"); });
    RunGuarded([] { throw 42; });
    bool ran = false;
    Guarded([&](int v) { ran = v == 7; })(7);
    EXPECT_TRUE(ran);
    ASSERT_EQ(Prompts.Errors.size(), 3u);
    EXPECT_EQ(Prompts.Errors[0], InOutErrorText(32) + ".");
    EXPECT_EQ(Prompts.Errors[1], "std error.");
    EXPECT_EQ(Prompts.Errors[2], "Unknown error.");
}

TEST_F(Shell, AFailedRoutingPassLeavesTheTimerStoppedUntilTheNextShow) {
    TempDir files;
    const std::string a = files.MakeDir("a"), b = files.MakeDir("b"), c = files.MakeDir("c");
    files.Write("a/locked", "m");
    files.Write("c/later", "m");
    StoreTasks({{"one", a, b, "m"}, {"two", c, b, "m"}});
    // The first task's file cannot be read: the pass ends there, before the second task.
    const int holder = open((files / "a/locked").c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    CreateProgram();
    FRM_TaskList->Show();
    Timer->AdvanceMinutes(10);
    EXPECT_EQ(Passes.size(), 1u);
    ASSERT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_EQ(Prompts.Errors[0], "I/O error 32.");
    EXPECT_EQ(files.Entries("c"), std::vector<std::string>{"later"});
    EXPECT_FALSE(Timer->Enabled());
    Timer->AdvanceMinutes(100);
    EXPECT_EQ(Passes.size(), 1u);
    FRM_TaskList->hide();
    FRM_TaskList->Show();
    EXPECT_TRUE(Timer->Enabled());
    close(holder);
}

} // namespace
} // namespace ferry::test
