#include "settings/settings_store.h"

#include "base/text.h"
#include "core/case_sensitive_match.h"

namespace ferry {

namespace {

LONG Probe(TRegistryTransaction* tx) {
    TRegistryKey key;
    key.OpenKeyReadOnly(SettingsRoot(), SettingsKey, tx);
    return key.OpenResult();
}

[[noreturn]] void RaiseUnavailable(const std::string& valueName, bool writing, LONG code) {
    if (writing)
        throw ERegistryException::WriteError(valueName, code, RegLastErrorText());
    throw ERegistryException::ReadError(valueName, code, RegLastErrorText());
}

void WriteDefaults(TRegistryTransaction& tx) {
    TRegistryKey key;
    key.OpenKey(SettingsRoot(), SettingsKey, true, &tx);
    for (const TSettingsDefault& d : SettingsDefaults) {
        if (d.IsInteger)
            key.WriteInteger(d.Name, d.Integer);
        else
            key.WriteString(d.Name, d.Text);
    }
}

} // namespace

LONG ProbeSettingsKey() {
    return Probe(nullptr);
}

bool StoreUnavailable(LONG code) {
    // Missing, or not readable by this user (who then has no rights to create it either):
    // both are "no key". Anything else means the store could not be asked.
    return code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND && code != ERROR_ACCESS_DENIED;
}

bool SettingsStoreBusy() {
    return RegHiveBusy(SettingsRoot());
}

bool SettingsKeyExists() {
    return ProbeSettingsKey() == ERROR_SUCCESS;
}

bool SettingsKeyPresent(const std::string& valueName) {
    LONG probe = ProbeSettingsKey();
    if (StoreUnavailable(probe))
        RaiseUnavailable(valueName, false, probe);
    return probe == ERROR_SUCCESS;
}

bool OpenExistingSettingsKey(TRegistryKey& key, const std::string& valueName, bool writing,
                             TRegistryTransaction* tx) {
    // The open alone tells as much as the test would when it succeeds or finds no key: the
    // two differ only in the rights asked for. A refusal may be either's, and is asked again.
    if (!tx) {
        if (key.OpenKey(SettingsRoot(), SettingsKey, false))
            return true;
        if (key.OpenResult() == ERROR_FILE_NOT_FOUND)
            return false;
    }
    LONG probe = Probe(tx);
    if (StoreUnavailable(probe))
        RaiseUnavailable(valueName, writing, probe);
    if (probe != ERROR_SUCCESS)
        return false;
    if (key.OpenKey(SettingsRoot(), SettingsKey, false, tx))
        return true;
    return key.OpenResult() != ERROR_FILE_NOT_FOUND;
}

bool OpenSettingsKey(TRegistryKey& key) {
    return key.OpenKey(SettingsRoot(), SettingsKey, true);
}

void InitialiseDefaults() {
    TRegistryTransaction tx;
    WriteDefaults(tx);
    tx.Commit(SettingsDefaults[0].Name);
}

void LoadStartupSettings(TaskTable& table, TStartupLoad& state) {
    state = TStartupLoad{};
    CaseSensitiveMatch = false;
    // One transaction: the test for the key, the defaults or the reads see one state of the
    // store, so another copy's save can never be read half old, half new.
    TRegistryTransaction tx;
    LONG probe = Probe(&tx);
    if (StoreUnavailable(probe)) {
        // Busy beyond the wait, or a damaged file: the key may well exist, so writing
        // first-run defaults could wipe a stored table. Nothing has been read.
        state.StoreUnavailable = true;
        RaiseUnavailable("ProcessInterval", false, probe);
    }
    if (probe != ERROR_SUCCESS) {
        // Missing, or not even readable by this user, which is a user without the rights to
        // create it: the first default then fails to be written, and nothing else is.
        state.Completed = true; // nothing stored that a save could lose
        WriteDefaults(tx);
        tx.Commit(SettingsDefaults[0].Name);
        state.ProcessInterval = 10;
        return;
    }
    state.KeyExisted = true;
    TRegistryKey key;
    key.OpenKey(SettingsRoot(), SettingsKey, true, &tx);
    try {
        state.ProcessInterval = key.ReadInteger("ProcessInterval");
        state.NumberOfEntries = key.ReadInteger("NumberOfEntries");
        CaseSensitiveMatch = key.ReadInteger("MSCaseSensitive") == 1;
        int n = state.NumberOfEntries;
        for (int i = 1; i <= n; ++i) {
            if (i > MaxTaskEntries)
                throw ERegistryException::ReadError("NumberOfEntries", ERROR_INVALID_PARAMETER,
                                                    "more task entries than the table holds");
            table.LoadRow(i, ReadTaskEntry(key, i));
            state.RowsLoaded = i;
        }
    } catch (...) {
        // The empty entries the reads created stay, as they would without a transaction.
        key.CloseKey();
        tx.Commit();
        throw;
    }
    key.CloseKey();
    // Only created empty entries can be lost by a failed commit; the table read is whole.
    tx.Commit();
    state.Completed = true;
}

bool WriteProcessInterval(int32_t minutes) {
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, "ProcessInterval", true))
        return false;
    key.WriteInteger("ProcessInterval", minutes);
    return true;
}

bool ReadDesktopNotifications() {
    TRegistryKey key;
    if (!key.OpenKeyReadOnly(SettingsRoot(), SettingsKey))
        return true;
    if (RegQueryValueEx(key.Handle(), "DesktopNotifications", nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return true;
    return key.ReadInteger("DesktopNotifications") == 1;
}

std::string ReadOcrLanguages() {
    TRegistryKey key;
    if (!key.OpenKeyReadOnly(SettingsRoot(), SettingsKey))
        return {};
    return key.ReadString("OcrLanguages");
}

bool WriteDesktopNotifications(bool on) {
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, "DesktopNotifications", true))
        return false;
    key.WriteInteger("DesktopNotifications", on ? 1 : 0);
    return true;
}

bool DesktopNotificationsStored() {
    TRegistryKey key;
    return key.OpenKeyReadOnly(SettingsRoot(), SettingsKey) &&
           RegQueryValueEx(key.Handle(), "DesktopNotifications", nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
}

} // namespace ferry
