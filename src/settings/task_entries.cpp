#include "settings/settings_store.h"

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
    if (!SettingsKeyExists())
        return;
    TRegistryKey key;
    if (!key.OpenKey(SettingsRoot(), SettingsKey, false) &&
        key.OpenResult() == ERROR_FILE_NOT_FOUND)
        return; // deleted since the test: nothing to save into
    key.WriteInteger("NumberOfEntries", count - 1);
    for (int n = 1; n <= count - 1; ++n)
        WriteTaskEntry(key, n, Slot(columns.Identifier, n - 1), Slot(columns.Source, n - 1),
                       Slot(columns.MatchString, n - 1), Slot(columns.Destination, n - 1));
}

bool SaveTaskTable(const TaskTable& table, const TStartupLoad& load) {
    if (!load.Completed)
        return false;
    TaskSnapshot s = table.Snapshot();
    SaveTaskEntries(s.Count, s);
    return true;
}

} // namespace ferry
