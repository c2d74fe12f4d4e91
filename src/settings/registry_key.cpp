#include "settings/registry_key.h"

#include "settings/registry_exception.h"

namespace ferry {

TRegistryTransaction::TRegistryTransaction() {
    RegCreateTransaction(&Handle_);
}

TRegistryTransaction::~TRegistryTransaction() {
    if (Handle_)
        RegCloseTransaction(Handle_);
}

LONG TRegistryTransaction::Commit() {
    return Handle_ ? RegCommitTransaction(Handle_) : ERROR_INVALID_HANDLE;
}

void TRegistryTransaction::Commit(const std::string& valueName) {
    LONG r = Commit();
    if (r != ERROR_SUCCESS)
        throw ERegistryException::WriteError(valueName, r, RegLastErrorText());
}

bool TRegistryKey::OpenKey(HKEY root, const std::string& path, bool canCreate,
                           TRegistryTransaction* tx) {
    CloseKey();
    HKEY h = nullptr;
    if (tx)
        OpenResult_ =
            canCreate
                ? RegCreateKeyTransacted(root, path.c_str(), REG_OPTION_NON_VOLATILE,
                                         KEY_ALL_ACCESS, &h, nullptr, tx->Handle())
                : RegOpenKeyTransacted(root, path.c_str(), 0, KEY_ALL_ACCESS, &h, tx->Handle());
    else
        OpenResult_ = canCreate ? RegCreateKeyEx(root, path.c_str(), REG_OPTION_NON_VOLATILE,
                                                 KEY_ALL_ACCESS, &h, nullptr)
                                : RegOpenKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &h);
    Key_ = OpenResult_ == ERROR_SUCCESS ? h : nullptr;
    return IsOpen();
}

bool TRegistryKey::OpenSubKey(TRegistryKey& parent, const std::string& name, bool canCreate) {
    CloseKey();
    if (!parent.IsOpen()) {
        OpenResult_ = ERROR_INVALID_HANDLE;
        return false;
    }
    return OpenKey(parent.Handle(), name, canCreate);
}

bool TRegistryKey::OpenKeyReadOnly(HKEY root, const std::string& path, TRegistryTransaction* tx) {
    CloseKey();
    HKEY h = nullptr;
    OpenResult_ = tx ? RegOpenKeyTransacted(root, path.c_str(), 0, KEY_READ, &h, tx->Handle())
                     : RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &h);
    Key_ = OpenResult_ == ERROR_SUCCESS ? h : nullptr;
    return IsOpen();
}

void TRegistryKey::CloseKey() {
    if (Key_)
        RegCloseKey(Key_);
    Key_ = nullptr;
}

int32_t TRegistryKey::ReadInteger(const std::string& name) {
    if (!IsOpen())
        throw ERegistryException::ReadError(name, OpenResult_, RegLastErrorText());
    DWORD type = REG_NONE;
    std::string data;
    LONG r = RegQueryValue(Key_, name, type, data);
    if (r != ERROR_SUCCESS || data.size() > 4)
        throw ERegistryException::ReadError(name, r == ERROR_SUCCESS ? ERROR_MORE_DATA : r,
                                            RegLastErrorText());
    if (type != REG_DWORD)
        throw ERegistryException::TypeError(name);
    uint32_t v = 0;
    for (size_t i = data.size(); i-- > 0;)
        v = (v << 8) | static_cast<unsigned char>(data[i]);
    return static_cast<int32_t>(v);
}

bool TRegistryKey::ReadOptionalInteger(const std::string& name, uint32_t& value) {
    if (IsOpen()) {
        DWORD type = REG_NONE;
        std::string data;
        if (RegQueryValue(Key_, name, type, data) == ERROR_FILE_NOT_FOUND)
            return false;
    }
    value = static_cast<uint32_t>(ReadInteger(name));
    return true;
}

std::string TRegistryKey::ReadText(const std::string& name, bool strict) {
    if (!IsOpen()) {
        if (strict)
            throw ERegistryException::ReadError(name, OpenResult_, RegLastErrorText());
        return {};
    }
    DWORD type = REG_NONE;
    std::string data;
    LONG r = RegQueryValue(Key_, name, type, data);
    if (r != ERROR_SUCCESS) {
        if (strict && r != ERROR_FILE_NOT_FOUND)
            throw ERegistryException::ReadError(name, r, RegLastErrorText());
        return {};
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw ERegistryException::TypeError(name);
    size_t nul = data.find('\0');
    if (nul != std::string::npos)
        data.resize(nul);
    return data;
}

std::string TRegistryKey::ReadString(const std::string& name) {
    return ReadText(name, false);
}

std::string TRegistryKey::ReadStringStrict(const std::string& name) {
    return ReadText(name, true);
}

void TRegistryKey::WriteInteger(const std::string& name, int32_t value) {
    if (!IsOpen())
        throw ERegistryException::WriteError(name, OpenResult_, RegLastErrorText());
    uint32_t v = static_cast<uint32_t>(value);
    char bytes[4] = {static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
                     static_cast<char>((v >> 16) & 0xff), static_cast<char>(v >> 24)};
    LONG r = RegSetValue(Key_, name, REG_DWORD, std::string_view(bytes, 4));
    if (r != ERROR_SUCCESS)
        throw ERegistryException::WriteError(name, r, RegLastErrorText());
}

void TRegistryKey::WriteString(const std::string& name, const std::string& value) {
    if (!IsOpen())
        throw ERegistryException::WriteError(name, OpenResult_, RegLastErrorText());
    std::string data = value;
    data += '\0';
    LONG r = RegSetValue(Key_, name, REG_SZ, data);
    if (r != ERROR_SUCCESS)
        throw ERegistryException::WriteError(name, r, RegLastErrorText());
}

void TRegistryKey::DeleteValue(const std::string& name) {
    if (!IsOpen())
        throw ERegistryException::WriteError(name, OpenResult_, RegLastErrorText());
    LONG r = RegDeleteValue(Key_, name.c_str());
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
        throw ERegistryException::WriteError(name, r, RegLastErrorText());
}

} // namespace ferry
