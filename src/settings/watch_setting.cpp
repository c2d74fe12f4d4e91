#include "settings/watch_setting.h"

#include "settings/settings_store.h"

namespace ferry {

namespace {
constexpr const char* kValue = "WatchFolders";
}

bool ReadWatchFolders() {
    TRegistryKey key;
    if (!key.OpenKeyReadOnly(SettingsRoot(), SettingsKey))
        return false;
    if (RegQueryValueEx(key.Handle(), kValue, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return key.ReadInteger(kValue) != 0;
}

bool WriteWatchFolders(bool on) {
    TRegistryKey key;
    if (!OpenExistingSettingsKey(key, kValue, true))
        return false;
    key.WriteInteger(kValue, on ? 1 : 0);
    return true;
}

} // namespace ferry
