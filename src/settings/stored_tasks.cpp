#include "settings/stored_tasks.h"

#include "settings/settings_store.h"

namespace ferry {

namespace {

std::vector<TaskRecord> ReadTasks(TRegistryKey& key) {
    const int n = key.ReadInteger("NumberOfEntries");
    if (n > MaxTaskEntries)
        throw ERegistryException::ReadError("NumberOfEntries", ERROR_INVALID_PARAMETER,
                                            "more task entries than the table holds");
    std::vector<TaskRecord> tasks;
    for (int i = 1; i <= n; ++i)
        tasks.push_back(ReadTaskEntry(key, i));
    return tasks;
}

} // namespace

std::optional<StoredSettings> ReadStoredSettings() {
    // Never committed: an entry the reads had to create is not kept.
    TRegistryTransaction tx;
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, "NumberOfEntries", false, &tx))
        return std::nullopt;
    StoredSettings s;
    s.ProcessInterval = key.ReadInteger("ProcessInterval");
    s.CaseSensitive = key.ReadInteger("MSCaseSensitive") == 1;
    s.Tasks = ReadTasks(key);
    return s;
}

std::optional<TaskChanges::Rebased> SaveTaskChanges(const std::vector<TaskRecord>& rows,
                                                    TaskChanges& changes) {
    TRegistryTransaction tx;
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, "NumberOfEntries", true, &tx))
        return std::nullopt;
    // Rebased on a copy: a failed save leaves this copy's changes as they were.
    TaskChanges attempt = changes;
    TaskChanges::Rebased merged = attempt.Rebase(rows, ReadTasks(key));
    if (merged.Rows.size() > static_cast<size_t>(MaxTaskEntries)) {
        merged.Rows.resize(MaxTaskEntries);
        for (int& place : merged.PlaceOf)
            if (place >= MaxTaskEntries)
                place = -1;
    }
    const int count = static_cast<int>(merged.Rows.size());
    key.WriteInteger("NumberOfEntries", count);
    for (int n = 1; n <= count; ++n)
        WriteTaskEntry(key, n, merged.Rows[static_cast<size_t>(n - 1)]);
    key.CloseKey();
    tx.Commit("NumberOfEntries");
    changes.Reset(merged.Rows);
    return merged;
}

} // namespace ferry
