#include "settings/settings_store.h"

#include "base/text.h"
#include "core/case_sensitive_match.h"

namespace ferry {

namespace {

// The existence test's own result: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when the key is
// truly missing, anything else when the store could not be asked.
LONG ProbeSettingsKey() {
    HKEY h = nullptr;
    LONG r = RegOpenKeyEx(SettingsRoot(), SettingsKey, 0, KEY_READ, &h);
    if (r == ERROR_SUCCESS)
        RegCloseKey(h);
    return r;
}

// For the actions that do nothing without the key: the existence test, then an open that
// does not create, so that a key deleted in between is not brought back by the open. False when the
// key is missing; true otherwise, with the key open or (when the open was refused) closed,
// in which case the writes that follow raise.
bool OpenExistingSettingsKey(TRegistryKey& key) {
    if (!SettingsKeyExists())
        return false;
    if (key.OpenKey(SettingsRoot(), SettingsKey, false))
        return true;
    return key.OpenResult() != ERROR_FILE_NOT_FOUND;
}

} // namespace

bool SettingsKeyExists() {
    return ProbeSettingsKey() == ERROR_SUCCESS;
}

bool OpenSettingsKey(TRegistryKey& key) {
    return key.OpenKey(SettingsRoot(), SettingsKey, true);
}

void InitialiseDefaults() {
    TRegistryKey key;
    OpenSettingsKey(key);
    for (const TSettingsDefault& d : SettingsDefaults) {
        if (d.IsInteger)
            key.WriteInteger(d.Name, d.Integer);
        else
            key.WriteString(d.Name, d.Text);
    }
}

void LoadStartupSettings(TaskTable& table, TStartupLoad& state) {
    state = TStartupLoad{};
    CaseSensitiveMatch = false;
    LONG probe = ProbeSettingsKey();
    if (probe != ERROR_SUCCESS && probe != ERROR_FILE_NOT_FOUND && probe != ERROR_ACCESS_DENIED) {
        // The store could not be asked (busy beyond the wait, damaged file): the key may
        // well exist, so writing first-run defaults could wipe a stored table.
        throw ERegistryException::ReadError("ProcessInterval", probe, RegLastErrorText());
    }
    if (probe != ERROR_SUCCESS) {
        // Missing, or not even readable by this user, which is a user without the rights to
        // create it: the first default then fails to be written, and nothing else is.
        state.Completed = true; // nothing stored that a save could lose
        InitialiseDefaults();
        state.ProcessInterval = 10;
        return;
    }
    state.KeyExisted = true;
    TRegistryKey key;
    OpenSettingsKey(key);
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
    key.CloseKey();
    state.Completed = true;
}

bool WriteProcessInterval(int32_t minutes) {
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key))
        return false;
    key.WriteInteger("ProcessInterval", minutes);
    return true;
}

bool ReadOptionsSettings(TOptionsSettings& options) {
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key))
        return false;
    options.SMTPEnabled = key.ReadInteger("SMTPEnabled") == 1;
    options.SMTPPort = key.ReadInteger("SMTPPort");
    options.SMTPServer = key.ReadString("SMTPServer");
    options.SMTPFrom = key.ReadString("SMTPFrom");
    options.SMTPTo = key.ReadString("SMTPTo");
    options.SMTPMessage = key.ReadString("SMTPMessage");
    options.MSCaseSensitive = key.ReadInteger("MSCaseSensitive") == 1;
    return true;
}

bool WriteOptionsSettings(const TOptionsInput& input) {
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key))
        return false;
    key.WriteInteger("SMTPEnabled", input.SMTPEnabled ? 1 : 0);
    key.WriteInteger("SMTPPort", StrToInt(input.SMTPPortText));
    key.WriteString("SMTPServer", input.SMTPServer);
    key.WriteString("SMTPFrom", input.SMTPFrom);
    key.WriteString("SMTPTo", input.SMTPTo);
    key.WriteString("SMTPMessage", input.SMTPMessage);
    key.WriteInteger("MSCaseSensitive", input.MSCaseSensitive ? 1 : 0);
    CaseSensitiveMatch = input.MSCaseSensitive;
    return true;
}

std::optional<TNotificationSettings>
ReadNotificationSettings(const std::function<void(const std::string&)>& takeRecipients) {
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key))
        return std::nullopt;
    if (key.ReadInteger("SMTPEnabled") != 1)
        return std::nullopt;
    TNotificationSettings s;
    s.SMTPServer = key.ReadString("SMTPServer");
    s.SMTPPort = key.ReadInteger("SMTPPort");
    s.SMTPFrom = key.ReadString("SMTPFrom");
    s.SMTPTo = key.ReadString("SMTPTo");
    if (takeRecipients)
        takeRecipients(s.SMTPTo);
    s.SMTPMessage = key.ReadString("SMTPMessage");
    return s;
}

} // namespace ferry
