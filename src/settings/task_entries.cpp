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

// The conditions as values of their own beside the four: each written when it differs from
// its default and removed when it does not, so that a row that took another task's place
// keeps nothing of it, and a task without conditions is stored exactly as it always was.
void WriteConditionValues(TRegistryKey& entry, const ConditionValues& c) {
    auto dword = [&](const char* name, uint32_t value) {
        if (value != 0)
            entry.WriteInteger(name, static_cast<int32_t>(value));
        else
            entry.DeleteValue(name);
    };
    auto text = [&](const char* name, const std::string& value) {
        if (!value.empty())
            entry.WriteString(name, value);
        else
            entry.DeleteValue(name);
    };
    dword("MatchKind", static_cast<uint32_t>(c.Kind));
    text("ExcludeString", c.ExcludeString);
    text("NamePattern", c.NamePattern);
    dword("MinAgeMinutes", c.MinAgeMinutes);
    dword("LookIn", c.LookIn);
}

ConditionValues ReadConditionValues(TRegistryKey& entry) {
    ConditionValues c;
    uint32_t kind = 0;
    if (entry.ReadOptionalInteger("MatchKind", kind))
        c.Kind = static_cast<MatchKind>(kind);
    c.ExcludeString = entry.ReadStringStrict("ExcludeString");
    c.NamePattern = entry.ReadStringStrict("NamePattern");
    entry.ReadOptionalInteger("MinAgeMinutes", c.MinAgeMinutes);
    entry.ReadOptionalInteger("LookIn", c.LookIn);
    return c;
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
    TRegistryKey entry;
    entry.OpenSubKey(settingsKey, "Entry" + std::to_string(n), true);
    WriteEntryValues(entry, task.Identifier, task.Source, task.MatchString, task.Destination);
    WriteConditionValues(entry, task.Conditions);
}

namespace {

TaskRecord ReadEntryValues(TRegistryKey& entry) {
    TaskRecord r;
    r.Identifier = entry.ReadStringStrict("Identifier");
    r.Source = entry.ReadStringStrict("Source");
    r.Destination = entry.ReadStringStrict("Destination");
    r.MatchString = entry.ReadStringStrict("MatchString");
    r.Conditions = ReadConditionValues(entry);
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
    for (int n = 1; n <= count - 1; ++n) {
        const std::size_t i = static_cast<std::size_t>(n - 1);
        WriteTaskEntry(
            key, n,
            TaskRecord{Slot(columns.Identifier, n - 1), Slot(columns.Source, n - 1),
                       Slot(columns.Destination, n - 1), Slot(columns.MatchString, n - 1),
                       i < columns.Conditions.size() ? columns.Conditions[i] : ConditionValues{}});
    }
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
