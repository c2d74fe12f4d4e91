#pragma once

// The task table: the routing tasks, as the grid shows them and the store keeps them.

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "core/conditions/task_conditions.h"

namespace ferry {

// One routing task: files in Source whose bytes contain MatchString move to Destination.
// Conditions, which the grid does not show, say how the match string is read and which
// files are considered; they travel with the row wherever it goes.
struct TaskRecord {
    std::string Identifier;
    std::string Source;
    std::string Destination;
    std::string MatchString;
    ConditionValues Conditions;

    TaskRecord() = default;
    TaskRecord(std::string identifier, std::string source, std::string destination,
               std::string matchString, ConditionValues conditions = {})
        : Identifier(std::move(identifier)), Source(std::move(source)),
          Destination(std::move(destination)), MatchString(std::move(matchString)),
          Conditions(std::move(conditions)) {}

    TaskConditions ConditionsForMatch() const { return {MatchString, Conditions}; }

    bool operator==(const TaskRecord&) const = default;
};

// What a save writes: rows 1 to RowCount - 1 (every task row and the blank row).
struct TaskSnapshot {
    std::vector<std::string> Identifier;
    std::vector<std::string> Source;
    std::vector<std::string> Destination;
    std::vector<std::string> MatchString;
    std::vector<ConditionValues> Conditions;
    int Count = 0;

    bool operator==(const TaskSnapshot&) const = default;
};

// Told before and after every change of cells or RowCount, so that a view can follow the
// table. A new current row changes no cell: it is told apart, so a view can move its cursor
// without rebuilding itself (a rebuild in the middle of a click loses the pressed cell).
class TaskTableObserver {
public:
    virtual ~TaskTableObserver() = default;
    virtual void TableAboutToChange() = 0;
    virtual void TableChanged() = 0;
    virtual void CurrentRowChanged() {}
};

// The grid of tasks: row 0 holds the headings, rows 1 to RowCount - 2 the tasks, and the
// last row is always blank. Column 0 holds the row number, columns 1 to 4 the task's
// fields. Cell texts are kept apart from RowCount: lowering it hides rows, raising it
// shows whatever they still hold.
class TaskTable {
public:
    static constexpr int ColCount = 5;

    TaskTable();

    int RowCount() const { return RowCount_; }
    void SetRowCount(int count);
    int Row() const { return Row_; }
    void SetRow(int row);

    const std::string& Cell(int col, int row) const;
    void SetCell(int col, int row, std::string text);

    // Writes "", "Name", "Source", "Destination", "Match String" into row 0.
    void WriteHeadings();

    // Writes the task into the blank row and adds a new, empty, blank row after it.
    void AppendTask(const TaskRecord& task);
    // Rewrites task row `row` (1 to RowCount - 2); the blank row and hidden rows are left alone.
    void ReplaceTask(int row, const TaskRecord& task);
    // Removes a task row and renumbers the rest; does nothing unless IsTaskRow(row).
    void DeleteTask(int row);
    TaskRecord TaskAt(int row) const;
    // A row below RowCount, other than the headings, whose name is not empty.
    bool IsTaskRow(int row) const;
    void LoadRow(int k, const TaskRecord& task);
    TaskSnapshot Snapshot() const;

    // Number of task rows a routing pass walks: rows 1 to RowCount - 2.
    int LastTaskRow() const { return RowCount_ - 2; }

    void SetObserver(TaskTableObserver* observer) { Observer_ = observer; }

private:
    using RowCells = std::array<std::string, ColCount>;
    RowCells& EnsureRow(int row);
    void WriteRecord(int row, const TaskRecord& task);
    void AboutToChange();
    void Changed();

    std::vector<RowCells> Cells_;
    std::vector<ConditionValues> Conditions_; // beside Cells_, row for row
    int RowCount_ = 2;
    int Row_ = 1;
    TaskTableObserver* Observer_ = nullptr;
};

} // namespace ferry
