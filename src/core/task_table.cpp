#include "core/task_table.h"

#include <stdexcept>

namespace ferry {

namespace {
const std::string kEmpty;
}

TaskTable::TaskTable() : Cells_(2), Conditions_(2) {}

void TaskTable::AboutToChange() {
    if (Observer_)
        Observer_->TableAboutToChange();
}

void TaskTable::Changed() {
    if (Observer_)
        Observer_->TableChanged();
}

TaskTable::RowCells& TaskTable::EnsureRow(int row) {
    if (row < 0)
        throw std::out_of_range("TaskTable row below 0");
    if (static_cast<size_t>(row) >= Cells_.size()) {
        Cells_.resize(static_cast<size_t>(row) + 1);
        Conditions_.resize(Cells_.size());
    }
    return Cells_[static_cast<size_t>(row)];
}

void TaskTable::SetRowCount(int count) {
    AboutToChange();
    RowCount_ = count < 1 ? 1 : count;
    EnsureRow(RowCount_ - 1);
    // The current row is never the heading row and never past the last row.
    if (Row_ >= RowCount_)
        Row_ = RowCount_ - 1;
    if (Row_ < 1 && RowCount_ > 1)
        Row_ = 1;
    Changed();
}

void TaskTable::SetRow(int row) {
    if (row < 1 || row >= RowCount_)
        return;
    if (row == Row_)
        return;
    Row_ = row;
    if (Observer_)
        Observer_->CurrentRowChanged();
}

const std::string& TaskTable::Cell(int col, int row) const {
    if (col < 0 || col >= ColCount || row < 0 || static_cast<size_t>(row) >= Cells_.size())
        return kEmpty;
    return Cells_[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

void TaskTable::SetCell(int col, int row, std::string text) {
    if (col < 0 || col >= ColCount)
        throw std::out_of_range("TaskTable column out of range");
    AboutToChange();
    EnsureRow(row)[static_cast<size_t>(col)] = std::move(text);
    Changed();
}

void TaskTable::WriteHeadings() {
    AboutToChange();
    EnsureRow(0) = {"", "Name", "Source", "Destination", "Match String"};
    Changed();
}

void TaskTable::WriteRecord(int row, const TaskRecord& task) {
    RowCells& cells = EnsureRow(row);
    cells[0] = std::to_string(row);
    cells[1] = task.Identifier;
    cells[2] = task.Source;
    cells[3] = task.Destination;
    cells[4] = task.MatchString;
    Conditions_[static_cast<size_t>(row)] = task.Conditions;
}

void TaskTable::AppendTask(const TaskRecord& task) {
    AboutToChange();
    WriteRecord(RowCount_ - 1, task);
    ++RowCount_;
    // The new last row must be blank even if an earlier SetRowCount hid text there.
    EnsureRow(RowCount_ - 1) = RowCells{};
    Conditions_[static_cast<size_t>(RowCount_ - 1)] = ConditionValues{};
    Changed();
}

void TaskTable::ReplaceTask(int row, const TaskRecord& task) {
    // Only task rows: writing the blank row or a hidden row would break the table's shape.
    if (row < 1 || row > RowCount_ - 2)
        return;
    AboutToChange();
    WriteRecord(row, task);
    Changed();
}

void TaskTable::DeleteTask(int row) {
    if (!IsTaskRow(row))
        return;
    AboutToChange();
    if (RowCount_ >= 3) {
        for (int i = row; i <= RowCount_ - 2; ++i) {
            EnsureRow(i) = EnsureRow(i + 1);
            Conditions_[static_cast<size_t>(i)] = Conditions_[static_cast<size_t>(i + 1)];
        }
    }
    RowCount_ = RowCount_ - 1 <= 0 ? 1 : RowCount_ - 1;
    if (RowCount_ >= 3) {
        for (int i = 1; i <= RowCount_ - 2; ++i)
            EnsureRow(i)[0] = std::to_string(i);
    }
    if (Row_ >= RowCount_)
        Row_ = RowCount_ - 1;
    Changed();
}

TaskRecord TaskTable::TaskAt(int row) const {
    const bool held = row >= 0 && static_cast<size_t>(row) < Conditions_.size();
    return {Cell(1, row), Cell(2, row), Cell(3, row), Cell(4, row),
            held ? Conditions_[static_cast<size_t>(row)] : ConditionValues{}};
}

bool TaskTable::IsTaskRow(int row) const {
    // Rows hidden by a lower RowCount may still hold text, but they are not in the table.
    return row >= 1 && row < RowCount_ && !Cell(1, row).empty();
}

void TaskTable::LoadRow(int k, const TaskRecord& task) {
    AboutToChange();
    ++RowCount_;
    EnsureRow(RowCount_ - 1);
    WriteRecord(k, task);
    Changed();
}

TaskSnapshot TaskTable::Snapshot() const {
    TaskSnapshot s;
    s.Count = RowCount_ - 1;
    for (int r = 1; r <= s.Count; ++r) {
        s.Identifier.push_back(Cell(1, r));
        s.Source.push_back(Cell(2, r));
        s.Destination.push_back(Cell(3, r));
        s.MatchString.push_back(Cell(4, r));
        s.Conditions.push_back(TaskAt(r).Conditions);
    }
    return s;
}

} // namespace ferry
