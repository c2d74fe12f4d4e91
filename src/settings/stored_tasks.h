#pragma once

// The stored settings a running copy follows (the interval, the case rule and the task table),
// read as one state of the store, and the save that puts this copy's task changes on top of
// the table stored now rather than over it.

#include <cstdint>
#include <optional>
#include <vector>

#include "core/task_changes.h"
#include "core/task_table.h"

namespace ferry {

struct StoredSettings {
    int32_t ProcessInterval = 10;
    bool CaseSensitive = false;
    std::vector<TaskRecord> Tasks;
};

// Reads them in one transaction that writes nothing. Nothing when the key is missing; raises
// the read error when the store could not be asked or a value is damaged.
std::optional<StoredSettings> ReadStoredSettings();

// One transaction: reads the stored table, rebases `changes` (made to the table whose task
// rows are `rows`) on top of it, and stores the result, which it returns; `changes` is then
// reset to it. Tasks past the table's capacity (added here while another copy added too) are
// not kept. Nothing when the key is missing (nothing is stored then). Raises the write
// error (ERROR_BUSY in its Code when the store was busy beyond the wait); then nothing of this
// save is stored and `changes` still holds this copy's changes.
std::optional<TaskChanges::Rebased> SaveTaskChanges(const std::vector<TaskRecord>& rows,
                                                    TaskChanges& changes);

} // namespace ferry
