#pragma once

// One open settings key, and one registry transaction, for one action.

#include "platform/registry.h"

#include <cstdint>
#include <string>

namespace ferry {

// One registry transaction for the length of one action: every write made through keys
// opened in it becomes visible at once when Commit succeeds, and none of them otherwise
// (going out of scope without a commit, an error, or the process being killed).
class TRegistryTransaction {
public:
    TRegistryTransaction();
    ~TRegistryTransaction();
    TRegistryTransaction(const TRegistryTransaction&) = delete;
    TRegistryTransaction& operator=(const TRegistryTransaction&) = delete;

    HTRANSACTION Handle() const { return Handle_; }
    // The registry's result; after a failure nothing of the transaction was stored.
    LONG Commit();
    // Commit, raising the write error naming valueName when it fails.
    void Commit(const std::string& valueName);

private:
    HTRANSACTION Handle_ = nullptr;
};

// One open registry key for the length of one action, with the typed reads and writes the
// settings use. Closes itself when it goes out of scope. Reads and writes with no key open
// (because opening failed) raise the errors below, as the settings require.
class TRegistryKey {
public:
    TRegistryKey() = default;
    ~TRegistryKey() { CloseKey(); }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;

    // Opens root\path with full access, creating it and missing parents when canCreate.
    // Returns whether it succeeded; on failure no key is open.
    // Within tx, when given: the key and every subkey opened below it read and write there.
    bool OpenKey(HKEY root, const std::string& path, bool canCreate,
                 TRegistryTransaction* tx = nullptr);
    // Opens a subkey of the key that is open, with full access, creating it when canCreate.
    // A subkey of a key opened in a transaction is in the same transaction.
    bool OpenSubKey(TRegistryKey& parent, const std::string& name, bool canCreate);
    bool OpenKeyReadOnly(HKEY root, const std::string& path, TRegistryTransaction* tx = nullptr);
    void CloseKey();
    bool IsOpen() const { return Key_ != nullptr; }
    HKEY Handle() const { return Key_; }
    // The registry's result of the last open.
    LONG OpenResult() const { return OpenResult_; }

    // A REG_DWORD of at most 4 bytes (fewer are zero-extended). Raises "Failed to get data"
    // when the value is missing, no key is open or the data is longer than 4 bytes, and
    // "Invalid data type" for another type of at most 4 bytes.
    int32_t ReadInteger(const std::string& name);
    // As ReadInteger, but a missing value is no error: false, and `value` is left alone.
    bool ReadOptionalInteger(const std::string& name, uint32_t& value);
    // A REG_SZ or REG_EXPAND_SZ (not expanded), cut at its first NUL. A missing value, no
    // key open, or any failure to query gives "". Another type raises "Invalid data type".
    std::string ReadString(const std::string& name);
    // As ReadString, but only a missing value reads as ""; any other failure to query raises
    // "Failed to get data", so that a hiccup is never mistaken for an empty field.
    std::string ReadStringStrict(const std::string& name);

    // Raise "Failed to set data" when no key is open or the registry refuses the write.
    void WriteInteger(const std::string& name, int32_t value);
    // Stores the text with its terminating NUL.
    void WriteString(const std::string& name, const std::string& value);
    // Removes the value; one that is not there is no error. Raises "Failed to set data"
    // otherwise, as a write would.
    void DeleteValue(const std::string& name);

private:
    std::string ReadText(const std::string& name, bool strict);

    HKEY Key_ = nullptr;
    LONG OpenResult_ = ERROR_INVALID_HANDLE;
};

} // namespace ferry
