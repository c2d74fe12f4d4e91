#include "platform/registry_roots.h"

#include "platform/registry.h"
#include "platform/registry_hive.h"

#include <cstdlib>
#include <string>

namespace ferry {

namespace {

struct RootInfo {
    uintptr_t Value;
    const char* Name;
    const char* Short;
};

constexpr RootInfo kRoots[] = {
    {0x80000000, "HKEY_CLASSES_ROOT", "HKCR"},   {0x80000001, "HKEY_CURRENT_USER", "HKCU"},
    {0x80000002, "HKEY_LOCAL_MACHINE", "HKLM"},  {0x80000003, "HKEY_USERS", "HKU"},
    {0x80000005, "HKEY_CURRENT_CONFIG", "HKCC"},
};

} // namespace

const char* RegPredefinedRootName(HKEY key) {
    for (const RootInfo& r : kRoots)
        if (reinterpret_cast<uintptr_t>(key) == r.Value)
            return r.Name;
    return nullptr;
}

std::string RegistryDirectory() {
    if (const char* dir = std::getenv("FERRYDESK_REGISTRY_DIR"); dir && *dir) {
        std::string d(dir);
        while (d.size() > 1 && d.back() == '/')
            d.pop_back();
        return d;
    }
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/')
        base = x;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = ".config";
    return base + "/ferrydesk/registry";
}

std::string RegistryHivePath(HKEY root) {
    const char* name = RegPredefinedRootName(root);
    return RegistryDirectory() + "/" + (name ? name : "UNKNOWN") + ".hive";
}

HKEY RegRootFromName(std::string_view name) {
    std::string fold = RegistryFold(name);
    for (const RootInfo& r : kRoots)
        if (fold == RegistryFold(r.Name) || fold == RegistryFold(r.Short))
            return reinterpret_cast<HKEY>(r.Value);
    return nullptr;
}

std::string RegRootName(HKEY root) {
    const char* name = RegPredefinedRootName(root);
    return name ? name : std::string();
}

std::string RegErrorMessage(LONG code) {
    switch (code) {
    case ERROR_SUCCESS:
        return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
        return "The system cannot find the file specified.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    case ERROR_INVALID_HANDLE:
        return "The handle is invalid.";
    case ERROR_OUTOFMEMORY:
        return "Not enough memory resources are available.";
    case ERROR_INVALID_PARAMETER:
        return "The parameter is incorrect.";
    case ERROR_DISK_FULL:
        return "There is not enough space on the disk.";
    case ERROR_BUSY:
        return "The requested resource is in use.";
    case ERROR_MORE_DATA:
        return "More data is available.";
    case ERROR_NO_MORE_ITEMS:
        return "No more data is available.";
    case ERROR_BADDB:
        return "The configuration registry database is corrupt.";
    case ERROR_BADKEY:
        return "The configuration registry key is invalid.";
    case ERROR_CANTOPEN:
        return "The configuration registry key could not be opened.";
    case ERROR_CANTREAD:
        return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE:
        return "The configuration registry key could not be written.";
    case ERROR_REGISTRY_CORRUPT:
        return "The structure of one of the files containing registry data is corrupt.";
    case ERROR_REGISTRY_IO_FAILED:
        return "An I/O operation initiated by the registry failed.";
    case ERROR_KEY_DELETED:
        return "Illegal operation attempted on a registry key that has been "
               "marked for deletion.";
    case ERROR_INVALID_TRANSACTION:
        return "The transaction handle associated with this operation is not valid.";
    case ERROR_TRANSACTION_NOT_ACTIVE:
        return "The requested operation was made in the context of a transaction that is no "
               "longer active.";
    default:
        return "Error " + std::to_string(code) + ".";
    }
}

} // namespace ferry
