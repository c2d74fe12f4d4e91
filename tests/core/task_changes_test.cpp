// This copy's task changes made again on top of a table another writer stored meanwhile.
#include <gtest/gtest.h>

#include "core/task_changes.h"

namespace ferry {
namespace {

TaskRecord T(const std::string& name, const std::string& match = "m") {
    return {name, "/in", "/out/" + name, match};
}

// A local change, by 1-based table row; Append takes the record to add.
struct Op {
    char Kind; // 'a'dd, 'e'dit, 'd'elete
    int Row;
    TaskRecord Task;
};

struct Case {
    const char* Name;
    std::vector<TaskRecord> Base;
    std::vector<Op> Ops;
    std::vector<TaskRecord> Stored;
    std::vector<TaskRecord> Expected;
};

TEST(TaskChanges, ReplaysThisCopysChangesOnTopOfTheStoredTable) {
    const TaskRecord a = T("A"), b = T("B"), c = T("C"), d = T("D"), x = T("X");
    const Case cases[] = {
        {"nothing here: the stored table as it is", {a, b, c}, {}, {c, a, x}, {c, a, x}},
        {"added here lands after another writer's", {a}, {{'a', 0, x}}, {a, d}, {a, d, x}},
        {"deleted here, another writer's survives", {a, b}, {{'d', 1, {}}}, {a, b, d}, {b, d}},
        {"deleted there: an edit here does not bring it back",
         {a, b, c},
         {{'e', 2, T("B", "new")}},
         {a, c},
         {a, c}},
        {"edited here follows its task after a deletion above it",
         {a, b, c},
         {{'e', 3, T("C", "new")}},
         {b, c},
         {b, T("C", "new")}},
        {"edited there and deleted here: gone", {a, b}, {{'d', 2, {}}}, {a, T("B", "theirs")}, {a}},
        {"edited in both: this copy's fields",
         {a, b},
         {{'e', 2, T("B", "ours")}},
         {a, T("B", "theirs")},
         {a, T("B", "ours")}},
        // The last task replaced by another writer with an unrelated one is not ours to delete.
        {"another writer's new last task is not the one deleted here",
         {a, b},
         {{'d', 2, {}}},
         {a, {"Z", "/z", "/zz", "zzz"}},
         {a, {"Z", "/z", "/zz", "zzz"}}},
        {"two equal tasks: the one deleted here, the other stays",
         {a, a, b},
         {{'d', 2, {}}},
         {a, a, b},
         {a, b}},
        {"several changes at once",
         {a, b, c},
         {{'d', 1, {}}, {'e', 1, T("B", "ours")}, {'a', 0, x}},
         {a, b, c, d},
         {T("B", "ours"), c, d, x}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.Name);
        TaskChanges changes;
        changes.Reset(k.Base);
        std::vector<TaskRecord> rows = k.Base;
        for (const Op& op : k.Ops) {
            if (op.Kind == 'a') {
                rows.push_back(op.Task);
                changes.Appended();
            } else if (op.Kind == 'e') {
                rows[static_cast<size_t>(op.Row - 1)] = op.Task;
                changes.Replaced(op.Row);
            } else {
                changes.Deleted(op.Row);
                rows.erase(rows.begin() + op.Row - 1);
            }
        }
        const TaskChanges::Rebased once = changes.Rebase(rows, k.Stored);
        EXPECT_EQ(once.Rows, k.Expected);
        // The changes are kept against the new base: replayed again on the same stored table
        // (a save after a follow) they give the same table.
        EXPECT_EQ(changes.Rebase(once.Rows, k.Stored).Rows, k.Expected);
        EXPECT_EQ(changes.Any(), k.Expected != k.Stored);
    }
}

TEST(TaskChanges, TheCurrentRowFollowsItsTaskIntoTheNewTable) {
    const TaskRecord a = T("A"), b = T("B"), c = T("C");
    TaskTable table;
    for (const TaskRecord& t : {a, b, c})
        table.AppendTask(t);
    table.SetRow(3); // C
    TaskChanges changes;
    changes.Reset(TableRows(table));
    EXPECT_TRUE(ShowRebased(table, changes.Rebase(TableRows(table), {b, c})));
    EXPECT_EQ(table.Row(), 2);
    EXPECT_EQ(table.TaskAt(2), c);
    EXPECT_EQ(table.LastTaskRow(), 2);
    EXPECT_FALSE(ShowRebased(table, changes.Rebase(TableRows(table), {b})));
    EXPECT_EQ(TableRows(table), std::vector<TaskRecord>{b});
}

} // namespace
} // namespace ferry
