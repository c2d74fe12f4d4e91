#pragma once

#include "platform/registry.h"
#include "settings/mail_settings.h"
#include "settings/settings_store.h"
#include "support/registry_sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferry {

inline const std::string kToolKey = std::string("HKLM\\") + SettingsKey;

// The Options dialog's read, when how far it got does not matter.
inline bool ReadOptions(TOptionsSettings& options) {
    int read = 0;
    return ReadOptionsSettings(options, read);
}

// Edits the hive the way a user would, with the command-line tool in its own process.
inline void ByHand(const RegistrySandbox& sandbox, const std::vector<std::string>& args) {
    std::string out;
    ASSERT_EQ(sandbox.RegTool(args, &out), 0) << out;
}

struct StoredValue {
    std::string Name;
    DWORD Type;
    std::string Data;
    bool operator==(const StoredValue&) const = default;
};

inline std::vector<StoredValue> ValuesOf(const std::string& path) {
    std::vector<StoredValue> out;
    HKEY h = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return out;
    StoredValue v;
    for (DWORD i = 0; RegEnumValue(h, i, v.Name, &v.Type, &v.Data) == ERROR_SUCCESS; ++i)
        out.push_back(v);
    RegCloseKey(h);
    return out;
}

inline std::vector<std::string> SubkeysOf(const std::string& path) {
    std::vector<std::string> out;
    HKEY h = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return out;
    std::string name;
    for (DWORD i = 0; RegEnumKeyEx(h, i, name) == ERROR_SUCCESS; ++i)
        out.push_back(name);
    RegCloseKey(h);
    return out;
}

inline bool KeyExists(const std::string& path) {
    HKEY h = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

inline std::string Sz(const std::string& s) {
    return s + '\0';
}
inline std::string Dword(uint32_t v) {
    return std::string{static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
                       static_cast<char>((v >> 16) & 0xff), static_cast<char>(v >> 24)};
}

// The message of the registry error an action raises, or "" when it raises none.
template <typename F> std::string RegistryErrorOf(F&& action) {
    try {
        action();
    } catch (const ERegistryException& e) {
        return e.message();
    }
    return "";
}

inline TaskRecord Task(const std::string& n) {
    return {n, "/src/" + n, "/dst/" + n, "match " + n};
}

} // namespace ferry
