// The settings held busy by another program past the 5-second wait, at start and at a save:
// what the user adds or deletes is kept, told about, and stored once the settings are free.

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ui/frm_add_task.h"
#include "ui/frm_task_list.h"
#include "ui/task_table_saver.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

class StoreBusy : public ProgramTest {
protected:
    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void Hold() {
        std::string why;
        ASSERT_TRUE(Holder.Hold(Sandbox.HivePath(), why)) << why;
    }
    void AddTask(const char* name) {
        Click(FRM_TaskList->BTN_AddNewTask);
        ASSERT_TRUE(FRM_AddTask->isVisible());
        QTest::keyClicks(FRM_AddTask->TXT_Identifier, QString::fromLatin1(name));
        Prompts.Folders = {"/in", "/out"};
        Click(FRM_AddTask->BTN_AddSource);
        Click(FRM_AddTask->BTN_AddDest);
        QTest::keyClicks(FRM_AddTask->TXT_MatchString, QStringLiteral("m"));
        Click(FRM_AddTask->BTN_AddTask); // shows the main window, which saves
        ASSERT_TRUE(FRM_TaskList->isVisible());
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const auto& m : Prompts.Messages)
            out.push_back(m.Message);
        return out;
    }
    std::vector<std::string> StoredNames() {
        std::vector<std::string> names;
        for (int n = 1, count = StoredInteger("NumberOfEntries"); n <= count; ++n)
            names.push_back(StoredTask(n).Identifier);
        return names;
    }

    HiveHolder Holder;
};

TEST_F(StoreBusy, AtStartTheAddedTaskIsKeptToldAboutAndMergedOnceFree) {
    StoreTasks({{"one", "/a", "/b", "m1"}, {"two", "/c", "/d", "m2"}});
    StoreInteger("ProcessInterval", 7);
    Hold();
    StartProgram();
    // The start cannot read the settings: said as before; nothing written, nothing loaded.
    ASSERT_EQ(Prompts.Errors,
              (std::vector<std::string>{"Failed to get data for 'ProcessInterval'"}));
    EXPECT_TRUE(Prompts.Messages.empty()) << "nothing of the user's to lose yet";
    EXPECT_EQ(FRM_TaskList->TXT_TimeInterval->text(), QString());
    EXPECT_FALSE(FRM_TaskList->LoadCompleted());

    AddTask("added");
    EXPECT_EQ(FRM_TaskList->Table().TaskAt(1).Identifier, "added") << "the grid shows it";
    EXPECT_EQ(Messages(), (std::vector<std::string>{TaskTableSaver::BusyText}));

    Holder.Release();
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"one", "two"}));
    Timer->Advance(30000); // the next tick tries again
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{TaskTableSaver::BusyText, TaskTableSaver::SavedText}));
    EXPECT_TRUE(FRM_TaskList->LoadCompleted());
    TaskTable& table = FRM_TaskList->Table();
    ASSERT_EQ(table.LastTaskRow(), 3);
    EXPECT_EQ(table.TaskAt(1).Identifier, "one");
    EXPECT_EQ(table.TaskAt(3), (TaskRecord{"added", "/in", "/out", "m"}));
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"one", "two", "added"}));
    EXPECT_EQ(FRM_TaskList->TXT_TimeInterval->text(), QStringLiteral("7"));
    EXPECT_EQ(Timer->Interval(), 7u * 60000u);

    // The interval set now is stored, and a restart finds everything.
    FRM_TaskList->TXT_TimeInterval->setText(QStringLiteral("3"));
    Click(FRM_TaskList->BTN_TimerSet);
    EXPECT_EQ(StoredInteger("ProcessInterval"), 3);
    App.reset();
    StartProgram();
    EXPECT_EQ(FRM_TaskList->Table().LastTaskRow(), 3);
    EXPECT_EQ(Prompts.Errors.size(), 1u);
}

TEST_F(StoreBusy, AtASaveTheChangeIsKeptToldAboutAndStoredOnceFree) {
    StoreTasks({{"one", "/a", "/b", "m1"}, {"two", "/c", "/d", "m2"}, {"three", "/e", "/f", "m"}});
    StartProgram();
    ASSERT_TRUE(Prompts.Errors.empty());
    Hold();
    FRM_TaskList->Table().SetRow(1);
    Click(FRM_TaskList->BTN_DelTask);
    EXPECT_EQ(Messages(), (std::vector<std::string>{TaskTableSaver::BusyText}));
    EXPECT_TRUE(Prompts.Errors.empty()) << "the busy settings are not an error box";
    Holder.Release();
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"one", "two", "three"}));
    Timer->Advance(FRM_TaskList->Timer1().Interval());
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"two", "three"}));
    EXPECT_EQ(Messages().back(), TaskTableSaver::SavedText);

    // Busy again at the next delete, and still busy when the user quits: one more try, a
    // warning before the quit question, and No keeps the program (and the change) alive.
    Hold();
    Click(FRM_TaskList->BTN_DelTask);
    EXPECT_EQ(Messages().back(), TaskTableSaver::BusyText);
    Prompts.Answers = {mrOk, mrNo};
    FRM_TaskList->close();
    ASSERT_GE(Prompts.Messages.size(), 2u);
    EXPECT_EQ(Prompts.Messages[Prompts.Messages.size() - 2].Message, TaskTableSaver::QuitText);
    EXPECT_EQ(Prompts.Messages.back().Message, "Do you really want to Quit the Program?");
    EXPECT_FALSE(App->Terminated());
    Holder.Release();
    FRM_TaskList->hide();
    FRM_TaskList->Show(); // showing the window saves
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"three"}));
}

// Not busy but damaged (a value missing): the stored table is still never replaced by the
// partial one, and a user who adds a task is told, once, that it cannot be saved.
TEST_F(StoreBusy, AfterADamagedStartAddedTasksAreNeverSavedAndTheUserIsTold) {
    StoreTasks({{"one", "/a", "/b", "m1"}, {"two", "/c", "/d", "m2"}});
    {
        TRegistryKey key;
        ASSERT_TRUE(OpenSettingsKey(key));
        ASSERT_EQ(RegDeleteValue(key.Handle(), "MSCaseSensitive"), ERROR_SUCCESS);
    }
    StartProgram();
    ASSERT_EQ(Prompts.Errors,
              (std::vector<std::string>{"Failed to get data for 'MSCaseSensitive'"}));
    EXPECT_TRUE(Prompts.Messages.empty());
    AddTask("added");
    AddTask("again");
    EXPECT_EQ(Messages(), (std::vector<std::string>{TaskTableSaver::NeverText}));
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"one", "two"}));
}

} // namespace
} // namespace ferry::test
