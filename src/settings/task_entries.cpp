#include "settings/task_entries.h"

#include "settings/settings_store.h"

#include <algorithm>

namespace ferry {

namespace {

const std::string& Slot(const std::vector<std::string>& column, int index) {
    static const std::string empty;
    return index >= 0 && static_cast<size_t>(index) < column.size()
               ? column[static_cast<size_t>(index)]
               : empty;
}

void WriteEntryValues(TRegistryKey& entry, const std::string& identifier, const std::string& source,
                      const std::string& matchString, const std::string& destination) {
    entry.WriteString("Identifier", identifier);
    entry.WriteString("Source", source);
    entry.WriteString("Destination", destination);
    entry.WriteString("MatchString", matchString);
}

} // namespace

std::string TaskEntryPath(int n) {
    return std::string(SettingsKey) + "\\Entry" + std::to_string(n);
}

void WriteTaskEntry(const std::string& subkeyPath, const std::string& identifier,
                    const std::string& source, const std::string& matchString,
                    const std::string& destination) {
    TRegistryKey entry;
    entry.OpenKey(SettingsRoot(), subkeyPath, true);
    WriteEntryValues(entry, identifier, source, matchString, destination);
}

void WriteTaskEntry(TRegistryKey& settingsKey, int n, const std::string& identifier,
                    const std::string& source, const std::string& matchString,
                    const std::string& destination) {
    TRegistryKey entry;
    entry.OpenSubKey(settingsKey, "Entry" + std::to_string(n), true);
    WriteEntryValues(entry, identifier, source, matchString, destination);
}

void WriteTaskEntry(TRegistryKey& settingsKey, int n, const TaskRecord& task) {
    WriteTaskEntry(settingsKey, n, task.Identifier, task.Source, task.MatchString,
                   task.Destination);
}

namespace {

TaskRecord ReadEntryValues(TRegistryKey& entry) {
    TaskRecord r;
    r.Identifier = entry.ReadStringStrict("Identifier");
    r.Source = entry.ReadStringStrict("Source");
    r.Destination = entry.ReadStringStrict("Destination");
    r.MatchString = entry.ReadStringStrict("MatchString");
    return r;
}

} // namespace

TaskRecord ReadTaskEntry(const std::string& subkeyPath) {
    TRegistryKey entry;
    if (!entry.OpenKey(SettingsRoot(), subkeyPath, true))
        throw ERegistryException::ReadError(subkeyPath, entry.OpenResult(), RegLastErrorText());
    return ReadEntryValues(entry);
}

TaskRecord ReadTaskEntry(TRegistryKey& settingsKey, int n) {
    TRegistryKey entry;
    if (!entry.OpenSubKey(settingsKey, "Entry" + std::to_string(n), true))
        throw ERegistryException::ReadError(TaskEntryPath(n), entry.OpenResult(),
                                            RegLastErrorText());
    return ReadEntryValues(entry);
}

void SaveTaskEntries(int count, const TaskSnapshot& columns) {
    // One transaction: the count and every entry are stored together or not at all, and a
    // copy killed part-way leaves the whole old table.
    TRegistryTransaction tx;
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, "NumberOfEntries", true, &tx))
        return; // missing: nothing to save into
    key.WriteInteger("NumberOfEntries", count - 1);
    for (int n = 1; n <= count - 1; ++n)
        WriteTaskEntry(key, n, Slot(columns.Identifier, n - 1), Slot(columns.Source, n - 1),
                       Slot(columns.MatchString, n - 1), Slot(columns.Destination, n - 1));
    key.CloseKey();
    tx.Commit("NumberOfEntries");
}

bool SaveTaskTable(const TaskTable& table, const TStartupLoad& load) {
    if (!load.Completed)
        return false;
    TaskSnapshot s = table.Snapshot();
    SaveTaskEntries(s.Count, s);
    return true;
}

bool CompleteStartupLoad(TaskTable& table, TStartupLoad& load, int& notKept) {
    notKept = 0;
    if (load.Completed)
        return true;
    if (!load.StoreUnavailable)
        return false;
    TaskTable stored;
    TStartupLoad fresh;
    try {
        LoadStartupSettings(stored, fresh);
    } catch (const ERegistryException&) {
        if (!fresh.StoreUnavailable)
            load = fresh; // the store answered, with an error: no more tries
        throw;
    }
    // The stored tasks first, in their order; then those added here meanwhile.
    std::vector<TaskRecord> rows;
    for (int r = 1; r <= stored.LastTaskRow(); ++r)
        rows.push_back(stored.TaskAt(r));
    for (int r = 1; r <= table.LastTaskRow(); ++r) {
        if (static_cast<int>(rows.size()) >= MaxTaskEntries)
            ++notKept;
        else
            rows.push_back(table.TaskAt(r));
    }
    const int current = table.Row();
    table.SetRowCount(2);
    for (int col = 1; col < TaskTable::ColCount; ++col)
        table.SetCell(col, 1, "");
    for (const TaskRecord& row : rows)
        table.AppendTask(row);
    table.SetRow(std::min(current + stored.LastTaskRow(), table.RowCount() - 1));
    load = fresh;
    return true;
}

} // namespace ferry
