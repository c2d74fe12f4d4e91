#include "settings/mail_settings.h"

#include "base/text.h"
#include "core/case_sensitive_match.h"
#include "settings/settings_store.h"

namespace ferry {

namespace {

bool ValueExists(TRegistryKey& key, const char* name) {
    return RegQueryValueEx(key.Handle(), name, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void ReadSecurity(TRegistryKey& key, TMailSettings& mail) {
    mail.SMTPSecurity = TMailSecurity::None;
    if (ValueExists(key, "SMTPSecurity")) {
        const int32_t v = key.ReadInteger("SMTPSecurity");
        if (v >= 0 && v <= 2)
            mail.SMTPSecurity = static_cast<TMailSecurity>(v);
    }
    mail.SMTPUser = ValueExists(key, "SMTPUser") ? key.ReadStringStrict("SMTPUser") : "";
}

} // namespace

bool ReadOptionsSettings(TOptionsSettings& options, int& read) {
    read = 0;
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, "SMTPEnabled", false))
        return false;
    // Counted as each one is in: a value that fails leaves the count at the ones before it.
    TMailSettings& mail = options.Mail;
    mail.SMTPEnabled = key.ReadInteger("SMTPEnabled") == 1;
    ++read;
    mail.SMTPPort = key.ReadInteger("SMTPPort");
    ++read;
    mail.SMTPServer = key.ReadString("SMTPServer");
    ++read;
    mail.SMTPFrom = key.ReadString("SMTPFrom");
    ++read;
    mail.SMTPTo = key.ReadString("SMTPTo");
    ++read;
    mail.SMTPMessage = key.ReadString("SMTPMessage");
    ++read;
    options.MSCaseSensitive = key.ReadInteger("MSCaseSensitive") == 1;
    ++read;
    ReadSecurity(key, mail);
    read += 2;
    return true;
}

bool WriteOptionsSettings(const TOptionsSettings& options, const std::string& portText,
                          bool withSecurity) {
    // All the values or none: a failure part-way (a bad port text included) stores nothing.
    TRegistryTransaction tx;
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, "SMTPEnabled", true, &tx))
        return false;
    const TMailSettings& mail = options.Mail;
    key.WriteInteger("SMTPEnabled", mail.SMTPEnabled ? 1 : 0);
    key.WriteInteger("SMTPPort", StrToInt(portText));
    key.WriteString("SMTPServer", mail.SMTPServer);
    key.WriteString("SMTPFrom", mail.SMTPFrom);
    key.WriteString("SMTPTo", mail.SMTPTo);
    key.WriteString("SMTPMessage", mail.SMTPMessage);
    key.WriteInteger("MSCaseSensitive", options.MSCaseSensitive ? 1 : 0);
    if (withSecurity) {
        key.WriteInteger("SMTPSecurity", static_cast<int32_t>(mail.SMTPSecurity));
        key.WriteString("SMTPUser", mail.SMTPUser);
    }
    key.CloseKey();
    tx.Commit("SMTPEnabled");
    CaseSensitiveMatch = options.MSCaseSensitive;
    return true;
}

std::optional<TMailSettings>
ReadNotificationSettings(const std::function<void(const std::string&)>& takeRecipients) {
    // Read afresh for every notification, asking once whether anything changed.
    RegReadingScope reading;
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, "SMTPEnabled", false))
        return std::nullopt;
    if (key.ReadInteger("SMTPEnabled") != 1)
        return std::nullopt;
    TMailSettings mail;
    mail.SMTPEnabled = true;
    mail.SMTPServer = key.ReadString("SMTPServer");
    mail.SMTPPort = key.ReadInteger("SMTPPort");
    mail.SMTPFrom = key.ReadString("SMTPFrom");
    mail.SMTPTo = key.ReadString("SMTPTo");
    if (takeRecipients)
        takeRecipients(mail.SMTPTo);
    mail.SMTPMessage = key.ReadString("SMTPMessage");
    ReadSecurity(key, mail);
    return mail;
}

TNotifyMode ReadNotifyMode() {
    TRegistryKey key;
    if (!key.OpenKeyReadOnly(SettingsRoot(), SettingsKey))
        return TNotifyMode::EachMove;
    DWORD type = 0;
    std::string data;
    if (RegQueryValue(key.Handle(), "SMTPNotify", type, data) != ERROR_SUCCESS)
        return TNotifyMode::EachMove;
    const int32_t mode = key.ReadInteger("SMTPNotify");
    return mode == 1 || mode == 2 ? static_cast<TNotifyMode>(mode) : TNotifyMode::EachMove;
}

bool WriteNotifyMode(TNotifyMode mode) {
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, "SMTPNotify", true))
        return false;
    key.WriteInteger("SMTPNotify", static_cast<int32_t>(mode));
    return true;
}

} // namespace ferry
