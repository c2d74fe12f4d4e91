#pragma once

// This copy's own changes to the task table since it last read the stored one, kept so that
// they can be made again on top of whatever another copy or the reg tool stored meanwhile.

#include <set>
#include <vector>

#include "core/task_table.h"

namespace ferry {

// For each row of `from`, the row of `to` that holds the same task, or -1 when it is gone.
// Equal records are matched in order first (the longest run they share); the rows left
// between two matches are then paired in order when they still share at least two of the
// name, source, destination and match string (a task edited there). Anything else counts
// as removed from `from` and new in `to`, so a task another writer stored is never taken
// for one of ours.
std::vector<int> MatchRows(const std::vector<TaskRecord>& from, const std::vector<TaskRecord>& to);

class TaskChanges {
public:
    // The table as it was read from the store, with nothing changed since.
    void Reset(const std::vector<TaskRecord>& stored);
    const std::vector<TaskRecord>& Base() const { return Base_; }
    bool Any() const;

    // Called as the table changes; rows are the table's 1-based task rows at that moment.
    void Appended();
    void Replaced(int row);
    void Deleted(int row);

    struct Rebased {
        std::vector<TaskRecord> Rows;
        // For each row given (0-based), its 0-based place among Rows, or -1 when it is gone.
        std::vector<int> PlaceOf;
    };
    // `rows` is the table now (its task rows, in order) and `stored` what the store holds now.
    // Makes this copy's additions, edits and deletions again on top of `stored`: a task deleted
    // either here or there is gone, one edited here takes this copy's fields, one added here
    // comes after the stored ones. The changes are then kept as changes to `stored`, so that a
    // later rebase (or the save) makes them once more; Reset once they are stored.
    Rebased Rebase(const std::vector<TaskRecord>& rows, const std::vector<TaskRecord>& stored);

private:
    std::vector<TaskRecord> Base_;
    // Per table row: the row of Base_ it came from (-1 when added here), and whether it was
    // edited here.
    std::vector<int> Origin_;
    std::vector<bool> Edited_;
    std::set<int> Removed_; // rows of Base_ deleted here
};

// The table's task rows, 1 to LastTaskRow, as the store keeps them.
std::vector<TaskRecord> TableRows(const TaskTable& table);

// Puts a rebased table in place of the table's task rows; the current row follows its task.
// Returns false when the current row's task is gone (it then stays on the same place).
bool ShowRebased(TaskTable& table, const TaskChanges::Rebased& rebased);

} // namespace ferry
