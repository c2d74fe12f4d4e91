#include "settings/mail_security_settings.h"

#include "settings/registry_key.h"
#include "settings/settings_store.h"

namespace ferry {

namespace {

bool ValueExists(TRegistryKey& key, const char* name) {
    return RegQueryValueEx(key.Handle(), name, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

} // namespace

TMailSecuritySettings ReadMailSecuritySettings() {
    TMailSecuritySettings s;
    TRegistryKey key;
    if (!key.OpenKeyReadOnly(SettingsRoot(), SettingsKey))
        return s;
    if (ValueExists(key, "SMTPSecurity")) {
        int32_t v = key.ReadInteger("SMTPSecurity");
        if (v >= 0 && v <= 2)
            s.Security = static_cast<TMailSecurity>(v);
    }
    if (ValueExists(key, "SMTPUser"))
        s.User = key.ReadStringStrict("SMTPUser");
    return s;
}

bool WriteMailSecuritySettings(const TMailSecuritySettings& settings) {
    TRegistryKey key;
    if (!key.OpenKey(SettingsRoot(), SettingsKey, false))
        return false;
    key.WriteInteger("SMTPSecurity", static_cast<int32_t>(settings.Security));
    key.WriteString("SMTPUser", settings.User);
    return true;
}

} // namespace ferry
