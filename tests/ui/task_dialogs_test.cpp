#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ui/frm_add_task.h"
#include "ui/frm_edit_task.h"
#include "ui/frm_task_list.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

class TaskDialogs : public ProgramTest {
protected:
    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void Type(QLineEdit* field, const char* text) {
        field->clear();
        QTest::keyClicks(field, QString::fromLatin1(text));
    }
    // Fills every field of a dialog the way the user does: typing and browsing.
    void FillIn(TaskEntryForm* form, const char* name, const char* source, const char* dest,
                const char* match) {
        Type(form->TXT_Identifier, name);
        Prompts.Folders = {source, dest};
        Click(form->BTN_AddSource);
        Click(form->BTN_AddDest);
        Type(form->TXT_MatchString, match);
    }
};

TEST_F(TaskDialogs, AddWithEveryFieldAppendsTheTaskAndSavesOnTheShow) {
    StoreTasks({{"one", "/a", "/b", "m1"}});
    StartProgram();
    Click(FRM_TaskList->BTN_AddNewTask);
    EXPECT_FALSE(FRM_TaskList->isVisible());
    ASSERT_TRUE(FRM_AddTask->isVisible());
    EXPECT_FALSE(Timer->Enabled()) << "the scheduler pauses while a dialog is open";
    EXPECT_EQ(FRM_AddTask->windowTitle(), QStringLiteral("Ferrydesk - Add Entry"));
    EXPECT_FALSE(FRM_AddTask->windowFlags() & Qt::WindowCloseButtonHint);

    FillIn(FRM_AddTask, "two", "/srv/in", "/srv/out", "  ");
    EXPECT_EQ(Prompts.BrowseTitles, (std::vector<std::string>{"Browse for Source File Location",
                                                              "Browse for File Destination"}));
    Click(FRM_AddTask->BTN_AddTask);
    EXPECT_FALSE(FRM_AddTask->isVisible());
    EXPECT_TRUE(FRM_TaskList->isVisible());
    EXPECT_TRUE(Timer->Enabled());
    TaskTable& table = FRM_TaskList->Table();
    EXPECT_EQ(table.RowCount(), 4);
    EXPECT_EQ(table.Cell(0, 2), "2");
    EXPECT_EQ(table.TaskAt(2), (TaskRecord{"two", "/srv/in", "/srv/out", "  "}));
    EXPECT_FALSE(table.IsTaskRow(3));
    EXPECT_EQ(StoredInteger("NumberOfEntries"), 2);
    EXPECT_EQ(StoredTask(2), (TaskRecord{"two", "/srv/in", "/srv/out", "  "}));

    // Shown again, the dialog starts empty.
    Click(FRM_TaskList->BTN_AddNewTask);
    EXPECT_EQ(FRM_AddTask->TXT_Identifier->text(), QString());
    EXPECT_EQ(FRM_AddTask->TXT_SourceLoc->text(), QString());
}

TEST_F(TaskDialogs, AddWithAnEmptyNameSaysSoAndClearsEveryField) {
    StartProgram();
    Click(FRM_TaskList->BTN_AddNewTask);
    FillIn(FRM_AddTask, "", "/srv/in", "/srv/out", "INVOICE");
    Click(FRM_AddTask->BTN_AddTask);
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages[0].Message, "All Fields must be completed");
    EXPECT_EQ(Prompts.Messages[0].Type, TMsgDlgType::mtCustom);
    EXPECT_EQ(Prompts.Messages[0].Buttons, Btn(mbOK));
    for (QLineEdit* f : {FRM_AddTask->TXT_Identifier, FRM_AddTask->TXT_SourceLoc,
                         FRM_AddTask->TXT_Destination, FRM_AddTask->TXT_MatchString})
        EXPECT_EQ(f->text(), QString()) << qPrintable(f->objectName());
    EXPECT_TRUE(FRM_AddTask->isVisible());
    EXPECT_EQ(FRM_TaskList->Table().RowCount(), 2);
}

TEST_F(TaskDialogs, AddWithoutAMatchStringOrFolderDoesNothing) {
    StartProgram();
    Click(FRM_TaskList->BTN_AddNewTask);
    FillIn(FRM_AddTask, "two", "/srv/in", "/srv/out", "");
    Click(FRM_AddTask->BTN_AddTask);
    EXPECT_TRUE(FRM_AddTask->isVisible());
    EXPECT_TRUE(Prompts.Messages.empty());
    EXPECT_EQ(FRM_AddTask->TXT_Identifier->text(), QStringLiteral("two"));
    EXPECT_EQ(FRM_AddTask->TXT_SourceLoc->text(), QStringLiteral("/srv/in"));

    // A cancelled browse leaves the field as it was; a missing folder stops the add too.
    // The browser opens at the folder the field holds.
    Type(FRM_AddTask->TXT_MatchString, "x");
    Prompts.Folders.clear();
    Prompts.BrowseStarts.clear();
    Click(FRM_AddTask->BTN_AddSource);
    EXPECT_EQ(FRM_AddTask->TXT_SourceLoc->text(), QStringLiteral("/srv/in"));
    EXPECT_EQ(Prompts.BrowseStarts, std::vector<std::string>{"/srv/in"});
    FRM_AddTask->TXT_Destination->clear();
    Click(FRM_AddTask->BTN_AddTask);
    EXPECT_TRUE(FRM_AddTask->isVisible());
    EXPECT_EQ(FRM_TaskList->Table().RowCount(), 2);
}

TEST_F(TaskDialogs, FolderFieldsTakeNoTypingAndTheFrameCannotCloseTheDialog) {
    StartProgram();
    Click(FRM_TaskList->BTN_AddNewTask);
    EXPECT_FALSE(FRM_AddTask->TXT_SourceLoc->isEnabled());
    EXPECT_TRUE(FRM_AddTask->TXT_SourceLoc->isReadOnly());
    EXPECT_EQ(FRM_AddTask->TXT_Destination->focusPolicy(), Qt::NoFocus);
    QTest::keyClicks(FRM_AddTask->TXT_SourceLoc, QStringLiteral("typed"));
    EXPECT_EQ(FRM_AddTask->TXT_SourceLoc->text(), QString());
    // Alt+F4 or the window manager's close would strand the hidden main window.
    FRM_AddTask->close();
    EXPECT_TRUE(FRM_AddTask->isVisible());
    EXPECT_EQ(FRM_AddTask->size(), QSize(462, 154));
    EXPECT_EQ(FRM_AddTask->BTN_Cancel->geometry(), QRect(382, 121, 74, 25));
    EXPECT_EQ(FRM_EditTask->size(), QSize(463, 156));
    EXPECT_EQ(FRM_EditTask->BTN_AddTask->text(), QStringLiteral("&Apply"));
}

TEST_F(TaskDialogs, EditThenApplyRewritesTheRowAndTheStoreAfterTheShow) {
    StoreTasks({{"one", "/a", "/b", "m1"}, {"two", "/c", "/d", "m2"}});
    StartProgram();
    FRM_TaskList->Table().SetRow(2);
    Click(FRM_TaskList->BTN_EditTask);
    ASSERT_TRUE(FRM_EditTask->isVisible());
    EXPECT_EQ(FRM_EditTask->windowTitle(), QStringLiteral("Ferrydesk - Edit Task"));
    EXPECT_EQ(FRM_EditTask->TXT_Identifier->text(), QStringLiteral("two"));
    EXPECT_EQ(FRM_EditTask->TXT_SourceLoc->text(), QStringLiteral("/c"));
    EXPECT_EQ(FRM_EditTask->TXT_Destination->text(), QStringLiteral("/d"));
    EXPECT_EQ(FRM_EditTask->TXT_MatchString->text(), QStringLiteral("m2"));
    Type(FRM_EditTask->TXT_MatchString, "NEW");
    EXPECT_EQ(StoredTask(2).MatchString, "m2");
    Click(FRM_EditTask->BTN_AddTask);
    EXPECT_FALSE(FRM_EditTask->isVisible());
    EXPECT_TRUE(FRM_TaskList->isVisible());
    TaskTable& table = FRM_TaskList->Table();
    EXPECT_EQ(table.TaskAt(2), (TaskRecord{"two", "/c", "/d", "NEW"}));
    EXPECT_EQ(table.Cell(0, 2), "2");
    EXPECT_EQ(table.RowCount(), 4);
    EXPECT_EQ(StoredTask(2).MatchString, "NEW");
    EXPECT_EQ(StoredInteger("NumberOfEntries"), 2);

    // An empty name in Edit: the message and four cleared fields, the row untouched.
    Click(FRM_TaskList->BTN_EditTask);
    FRM_EditTask->TXT_Identifier->clear();
    Click(FRM_EditTask->BTN_AddTask);
    EXPECT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(FRM_EditTask->TXT_MatchString->text(), QString());
    EXPECT_EQ(table.TaskAt(2).Identifier, "two");
}

TEST_F(TaskDialogs, ALongStoredTaskComesBackWholeThroughEditAndApply) {
    // Longer than a line edit takes by default: a cut here would be written back on Apply.
    const std::string name(33000, 'n');
    const std::string match(40000, 'm');
    StoreTasks({{name, "/a", "/b", match}});
    StartProgram();
    Click(FRM_TaskList->BTN_EditTask);
    ASSERT_TRUE(FRM_EditTask->isVisible());
    EXPECT_EQ(FRM_EditTask->TXT_MatchString->text().size(), 40000);
    Click(FRM_EditTask->BTN_AddTask);
    EXPECT_EQ(FRM_TaskList->Table().TaskAt(1), (TaskRecord{name, "/a", "/b", match}));
    EXPECT_EQ(StoredTask(1).Identifier, name);
    EXPECT_EQ(StoredTask(1).MatchString, match);
}

TEST_F(TaskDialogs, CancelLeavesTheTableButSavesAndRestartsTheCountdown) {
    StoreTasks({{"one", "/a", "/b", "m1"}});
    StartProgram();
    for (TaskEntryForm* form : std::initializer_list<TaskEntryForm*>{FRM_AddTask, FRM_EditTask}) {
        const int ticksBefore = Timer->Ticks();
        Timer->AdvanceMinutes(6);
        Click(form == FRM_AddTask ? FRM_TaskList->BTN_AddNewTask : FRM_TaskList->BTN_EditTask);
        ASSERT_TRUE(form->isVisible());
        FillIn(form, "changed", "/x", "/y", "z");
        MarkCountUnsaved(); // written again by the save on the show
        Timer->AdvanceMinutes(30);
        EXPECT_EQ(Timer->Ticks(), ticksBefore) << "paused while the dialog is open";
        Click(form->BTN_Cancel);
        EXPECT_FALSE(form->isVisible());
        EXPECT_TRUE(FRM_TaskList->isVisible());
        EXPECT_EQ(FRM_TaskList->Table().RowCount(), 3);
        EXPECT_EQ(FRM_TaskList->Table().TaskAt(1).Identifier, "one");
        EXPECT_TRUE(CountSaved());
        EXPECT_EQ(StoredInteger("NumberOfEntries"), 1);
        // A full period from the Cancel, not what was left of the old one.
        Timer->Advance(10 * 60000 - 1);
        EXPECT_EQ(Timer->Ticks(), ticksBefore);
        Timer->Advance(1);
        EXPECT_EQ(Timer->Ticks(), ticksBefore + 1);
    }
}

// Another writer stores a table while a dialog is open: the dialog keeps its fields, and what
// it hands back lands on the stored table, never on the one this copy read before.
TEST_F(TaskDialogs, WhatADialogHandsBackLandsOnTheTableStoredMeanwhile) {
    const TaskRecord one{"one", "/a", "/b", "m1"}, two{"two", "/c", "/d", "m2"};
    const TaskRecord three{"three", "/e", "/f", "m3"}, four{"four", "/g", "/h", "m4"};
    StoreTasks({one, two});
    StartProgram();
    FRM_TaskList->Table().SetRow(2);
    Click(FRM_TaskList->BTN_EditTask);
    FillIn(FRM_EditTask, "two, edited", "/c", "/d", "m2");
    StoreTasks({one, three}); // "two" deleted there
    Click(FRM_EditTask->BTN_AddTask);
    EXPECT_EQ(StoredTask(2), three) << "a task deleted elsewhere is not brought back";
    EXPECT_EQ(StoredInteger("NumberOfEntries"), 2);

    Click(FRM_TaskList->BTN_AddNewTask);
    FillIn(FRM_AddTask, "five", "/i", "/j", "m5");
    StoreTasks({one, three, four});
    Click(FRM_AddTask->BTN_AddTask);
    ASSERT_EQ(StoredInteger("NumberOfEntries"), 4);
    EXPECT_EQ(StoredTask(3), four);
    EXPECT_EQ(StoredTask(4).Identifier, "five");
    EXPECT_EQ(FRM_TaskList->Table().TaskAt(3), four) << "the grid shows what is stored";

    // Deleted here: gone from the stored table, whatever else it holds now.
    StoreTasks({four, one, three, {"five", "/i", "/j", "m5"}});
    FRM_TaskList->Table().SetRow(1);
    Click(FRM_TaskList->BTN_DelTask);
    EXPECT_EQ(StoredInteger("NumberOfEntries"), 3);
    EXPECT_EQ(StoredTask(1), four);
    EXPECT_EQ(StoredTask(2), three);
}

} // namespace
} // namespace ferry::test
