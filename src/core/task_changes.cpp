#include "core/task_changes.h"

#include <algorithm>

namespace ferry {

namespace {

bool LooksEdited(const TaskRecord& a, const TaskRecord& b) {
    const int same = (a.Identifier == b.Identifier) + (a.Source == b.Source) +
                     (a.Destination == b.Destination) + (a.MatchString == b.MatchString);
    return same >= 2;
}

} // namespace

std::vector<int> MatchRows(const std::vector<TaskRecord>& from, const std::vector<TaskRecord>& to) {
    const size_t n = from.size(), m = to.size();
    // Longest common run of equal records; at most a few hundred rows each.
    std::vector<std::vector<int>> lcs(n + 1, std::vector<int>(m + 1, 0));
    for (size_t i = n; i-- > 0;)
        for (size_t j = m; j-- > 0;)
            lcs[i][j] =
                from[i] == to[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    std::vector<int> match(n, -1);
    std::vector<std::pair<size_t, size_t>> anchors;
    for (size_t i = 0, j = 0; i < n && j < m;) {
        if (from[i] == to[j]) {
            match[i] = static_cast<int>(j);
            anchors.emplace_back(i++, j++);
        } else if (lcs[i + 1][j] >= lcs[i][j + 1]) {
            ++i;
        } else {
            ++j;
        }
    }
    anchors.emplace_back(n, m);
    size_t i0 = 0, j0 = 0;
    for (const auto& [ia, ja] : anchors) {
        size_t j = j0;
        for (size_t i = i0; i < ia; ++i)
            for (size_t k = j; k < ja; ++k)
                if (LooksEdited(from[i], to[k])) {
                    match[i] = static_cast<int>(k);
                    j = k + 1;
                    break;
                }
        i0 = ia + 1;
        j0 = ja + 1;
    }
    return match;
}

void TaskChanges::Reset(const std::vector<TaskRecord>& stored) {
    Base_ = stored;
    Origin_.clear();
    Edited_.assign(stored.size(), false);
    for (size_t i = 0; i < stored.size(); ++i)
        Origin_.push_back(static_cast<int>(i));
    Removed_.clear();
}

bool TaskChanges::Any() const {
    if (!Removed_.empty() || Origin_.size() != Base_.size())
        return true;
    for (size_t r = 0; r < Origin_.size(); ++r)
        if (Origin_[r] < 0 || Edited_[r])
            return true;
    return false;
}

void TaskChanges::Appended() {
    Origin_.push_back(-1);
    Edited_.push_back(false);
}

void TaskChanges::Replaced(int row) {
    if (row >= 1 && static_cast<size_t>(row) <= Edited_.size())
        Edited_[static_cast<size_t>(row - 1)] = true;
}

void TaskChanges::Deleted(int row) {
    if (row < 1 || static_cast<size_t>(row) > Origin_.size())
        return;
    const size_t at = static_cast<size_t>(row - 1);
    if (Origin_[at] >= 0)
        Removed_.insert(Origin_[at]);
    Origin_.erase(Origin_.begin() + static_cast<std::ptrdiff_t>(at));
    Edited_.erase(Edited_.begin() + static_cast<std::ptrdiff_t>(at));
}

TaskChanges::Rebased TaskChanges::Rebase(const std::vector<TaskRecord>& rows,
                                         const std::vector<TaskRecord>& stored) {
    const std::vector<int> map = MatchRows(Base_, stored);
    std::vector<TaskRecord> merged = stored;
    std::vector<bool> keep(stored.size(), true);
    std::vector<bool> edited(stored.size(), false);
    std::vector<int> fromRow(stored.size(), -1);
    for (int b : Removed_)
        if (b >= 0 && static_cast<size_t>(b) < map.size() && map[static_cast<size_t>(b)] >= 0)
            keep[static_cast<size_t>(map[static_cast<size_t>(b)])] = false;
    // Rows whose base row is no longer stored were deleted by another writer: gone here too,
    // edited or not.
    for (size_t r = 0; r < rows.size() && r < Origin_.size(); ++r) {
        if (Origin_[r] < 0)
            continue;
        const int s = map[static_cast<size_t>(Origin_[r])];
        if (s < 0 || !keep[static_cast<size_t>(s)])
            continue;
        fromRow[static_cast<size_t>(s)] = static_cast<int>(r);
        if (Edited_[r]) {
            merged[static_cast<size_t>(s)] = rows[r];
            edited[static_cast<size_t>(s)] = rows[r] != stored[static_cast<size_t>(s)];
        }
    }

    Rebased out;
    out.PlaceOf.assign(rows.size(), -1);
    std::vector<int> origin;
    std::vector<bool> edits;
    std::set<int> removed;
    for (size_t s = 0; s < stored.size(); ++s) {
        if (!keep[s]) {
            removed.insert(static_cast<int>(s));
            continue;
        }
        if (fromRow[s] >= 0)
            out.PlaceOf[static_cast<size_t>(fromRow[s])] = static_cast<int>(out.Rows.size());
        out.Rows.push_back(merged[s]);
        origin.push_back(static_cast<int>(s));
        edits.push_back(edited[s]);
    }
    for (size_t r = 0; r < rows.size() && r < Origin_.size(); ++r) {
        if (Origin_[r] >= 0)
            continue;
        out.PlaceOf[r] = static_cast<int>(out.Rows.size());
        out.Rows.push_back(rows[r]);
        origin.push_back(-1);
        edits.push_back(false);
    }
    Base_ = stored;
    Origin_ = std::move(origin);
    Edited_ = std::move(edits);
    Removed_ = std::move(removed);
    return out;
}

std::vector<TaskRecord> TableRows(const TaskTable& table) {
    std::vector<TaskRecord> rows;
    for (int row = 1; row <= table.LastTaskRow(); ++row)
        rows.push_back(table.TaskAt(row));
    return rows;
}

bool ShowRebased(TaskTable& table, const TaskChanges::Rebased& rebased) {
    const int current = table.Row();
    int place = -1;
    if (current >= 1 && static_cast<size_t>(current) <= rebased.PlaceOf.size())
        place = rebased.PlaceOf[static_cast<size_t>(current - 1)];
    const bool onBlankRow = current == table.RowCount() - 1;
    if (TableRows(table) != rebased.Rows) {
        table.SetRowCount(2);
        for (int col = 1; col < TaskTable::ColCount; ++col)
            table.SetCell(col, 1, "");
        for (const TaskRecord& row : rebased.Rows)
            table.AppendTask(row);
    }
    if (place >= 0)
        table.SetRow(place + 1);
    else
        table.SetRow(std::min(std::max(current, 1), table.RowCount() - 1));
    return place >= 0 || onBlankRow;
}

} // namespace ferry
