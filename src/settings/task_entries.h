#pragma once

// The task table as stored: NumberOfEntries under the settings key and one subkey per task,
// Entry1..EntryN, each with Identifier, Source, Destination and MatchString. The start-up
// load and the table save that use these are in settings/settings_store.h.

#include <string>

#include "core/task_table.h"
#include "settings/registry_key.h"

namespace ferry {

// "SOFTWARE\Quillmere\Ferrydesk\Entry<n>", n in decimal.
std::string TaskEntryPath(int n);

// Saves count - 1 task rows (count is the snapshot's count: every task row plus the blank
// row) as NumberOfEntries and Entry1..Entry<count-1>; entries above are left alone. Does
// nothing when the key is missing. All of it is one transaction: on any failure (raised as
// the write error; ERROR_BUSY in its Code when the store was busy beyond the wait) nothing
// of this save is stored, and a process killed part-way leaves the previous table whole.
void SaveTaskEntries(int count, const TaskSnapshot& columns);

// Opens subkeyPath (below HKEY_LOCAL_MACHINE) with creation and writes Identifier, Source,
// Destination, MatchString in that order.
void WriteTaskEntry(const std::string& subkeyPath, const std::string& identifier,
                    const std::string& source, const std::string& matchString,
                    const std::string& destination);

// The same, for entry n under an open settings key: the entry is created below that key,
// so a key deleted meanwhile is never brought back by the write (which raises instead).
void WriteTaskEntry(TRegistryKey& settingsKey, int n, const std::string& identifier,
                    const std::string& source, const std::string& matchString,
                    const std::string& destination);

// The same, with the task's fields from its record.
void WriteTaskEntry(TRegistryKey& settingsKey, int n, const TaskRecord& task);

// Opens subkeyPath with creation and reads Identifier, Source, Destination, MatchString; a
// missing value reads as "". A key that cannot be opened or a value that cannot be queried
// raises the read error instead of reading as empty, so a hiccup never becomes a blank task.
TaskRecord ReadTaskEntry(const std::string& subkeyPath);

// The same, for entry n under an open settings key (the start-up load uses this): a key
// deleted by another program during the load makes it fail rather than come back.
TaskRecord ReadTaskEntry(TRegistryKey& settingsKey, int n);

} // namespace ferry
