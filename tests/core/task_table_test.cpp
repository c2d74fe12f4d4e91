#include "core/task_table.h"

#include <gtest/gtest.h>

namespace ferry {

namespace {

TaskRecord Task(const std::string& name) {
    return {name, "/in/" + name, "/out/" + name, "M" + name};
}

void ExpectNumbered(const TaskTable& table) {
    for (int r = 1; r <= table.RowCount() - 2; ++r)
        EXPECT_EQ(table.Cell(0, r), std::to_string(r)) << "row " << r;
    for (int c = 0; c < TaskTable::ColCount; ++c)
        EXPECT_EQ(table.Cell(c, table.RowCount() - 1), "") << "blank row, column " << c;
}

} // namespace

TEST(TaskTableTest, FreshTableAndAppend) {
    TaskTable table;
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.Row(), 1);
    EXPECT_EQ(table.LastTaskRow(), 0);
    EXPECT_FALSE(table.IsTaskRow(1));
    table.WriteHeadings();
    EXPECT_EQ(table.Cell(1, 0), "Name");
    EXPECT_EQ(table.Cell(4, 0), "Match String");
    EXPECT_EQ(table.Cell(0, 0), "");

    for (const char* name : {"a", "b", "c"})
        table.AppendTask(Task(name));
    EXPECT_EQ(table.RowCount(), 5);
    ExpectNumbered(table);
    EXPECT_EQ(table.TaskAt(2), Task("b"));
    EXPECT_EQ(table.Cell(3, 3), "/out/c");
    EXPECT_TRUE(table.IsTaskRow(3));
    EXPECT_FALSE(table.IsTaskRow(4));
    EXPECT_FALSE(table.IsTaskRow(0)); // the headings are never a task
    EXPECT_EQ(table.Row(), 1);        // adding does not move the current row
}

TEST(TaskTableTest, DeleteShiftsRenumbersAndKeepsTheCurrentIndex) {
    TaskTable table;
    for (const char* name : {"a", "b", "c"})
        table.AppendTask(Task(name));
    table.SetRow(2);
    table.DeleteTask(2);
    EXPECT_EQ(table.RowCount(), 4);
    EXPECT_EQ(table.TaskAt(2), Task("c"));
    EXPECT_EQ(table.Cell(0, 2), "2");
    ExpectNumbered(table);
    EXPECT_EQ(table.Row(), 2); // now shows the task that followed

    table.SetRow(2);
    table.DeleteTask(2); // current row falls onto the new blank row
    EXPECT_EQ(table.RowCount(), 3);
    EXPECT_EQ(table.Row(), 2);
    table.DeleteTask(1);
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.Row(), 1);
    ExpectNumbered(table);
    // Rows beyond the last hold no text after the operations.
    for (int r = 2; r < 5; ++r)
        for (int c = 0; c < TaskTable::ColCount; ++c)
            EXPECT_EQ(table.Cell(c, r), "");
}

TEST(TaskTableTest, BlankOrHiddenRowsAreLeftAlone) {
    TaskTable table;
    table.AppendTask(Task("a"));
    table.AppendTask(Task("b"));
    // Edit or delete with the blank row current does nothing.
    table.DeleteTask(3);
    table.ReplaceTask(3, Task("x"));
    EXPECT_EQ(table.RowCount(), 4);
    ExpectNumbered(table);
    // A row whose name is empty is not a task, not even for delete.
    table.SetCell(1, 1, "");
    table.DeleteTask(1);
    EXPECT_EQ(table.RowCount(), 4);

    // Lowering RowCount hides rows without erasing them; raising shows them again.
    table.SetRowCount(2);
    EXPECT_EQ(table.Row(), 1);
    EXPECT_EQ(table.Cell(1, 2), "b");
    EXPECT_FALSE(table.IsTaskRow(2)); // hidden, so not a task
    table.DeleteTask(2);
    table.ReplaceTask(2, Task("x"));
    table.SetRowCount(4);
    EXPECT_EQ(table.TaskAt(2), Task("b"));
    EXPECT_EQ(table.Row(), 1); // raising never moves the current row

    // An append after hiding still leaves a blank last row.
    table.SetRowCount(2);
    table.AppendTask(Task("n"));
    EXPECT_EQ(table.RowCount(), 3);
    EXPECT_EQ(table.TaskAt(1), Task("n"));
    ExpectNumbered(table);
}

TEST(TaskTableTest, ReplaceRewritesTheNumber) {
    TaskTable table;
    table.AppendTask(Task("a"));
    table.AppendTask(Task("b"));
    table.SetCell(0, 2, "99");
    table.ReplaceTask(2, Task("z"));
    EXPECT_EQ(table.TaskAt(2), Task("z"));
    EXPECT_EQ(table.Cell(0, 2), "2");
    EXPECT_EQ(table.RowCount(), 4);
}

TEST(TaskTableTest, LoadAndSnapshotOfAThousandTasks) {
    TaskTable table;
    for (int k = 1; k <= 1000; ++k)
        table.LoadRow(k, Task(std::to_string(k)));
    EXPECT_EQ(table.RowCount(), 1002);
    ExpectNumbered(table);
    EXPECT_EQ(table.TaskAt(1000), Task("1000"));
    table.AppendTask(Task("x"));

    const TaskSnapshot snap = table.Snapshot();
    EXPECT_EQ(snap.Count, 1002); // every task row and the blank row
    ASSERT_EQ(snap.Identifier.size(), 1002u);
    EXPECT_EQ(snap.Identifier[0], "1");
    EXPECT_EQ(snap.Source[999], "/in/1000");
    EXPECT_EQ(snap.MatchString[1000], "Mx");
    EXPECT_EQ(snap.Destination[1001], "");

    // An empty entry loaded from the store keeps its place but is no task.
    TaskTable loaded;
    loaded.LoadRow(1, Task("a"));
    loaded.LoadRow(2, TaskRecord{});
    EXPECT_EQ(loaded.RowCount(), 4);
    EXPECT_TRUE(loaded.IsTaskRow(1));
    EXPECT_FALSE(loaded.IsTaskRow(2));
    EXPECT_EQ(loaded.Cell(0, 2), "2");
}

TEST(TaskTableTest, ObserverHearsEveryChangeAndTellsARowMoveApart) {
    struct Counter : TaskTableObserver {
        int before = 0, after = 0, moves = 0;
        void TableAboutToChange() override { ++before; }
        void TableChanged() override { ++after; }
        void CurrentRowChanged() override { ++moves; }
    } counter;
    TaskTable table;
    table.SetObserver(&counter);
    table.AppendTask(Task("a"));
    table.AppendTask(Task("c"));
    table.ReplaceTask(1, Task("b"));
    table.SetRow(2);
    table.SetRow(2); // already current: nothing to tell
    table.DeleteTask(1);
    EXPECT_EQ(counter.before, 4);
    EXPECT_EQ(counter.after, 4);
    EXPECT_EQ(counter.moves, 1);
    table.SetObserver(nullptr);
}

} // namespace ferry
