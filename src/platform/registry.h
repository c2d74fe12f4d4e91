#pragma once

// The registry interface the program is written against, in the shape of the Windows one
// (result codes, value types, access rights, open/create/query/set/delete/enumerate/close),
// kept in SQLite hive files: one file per root key, in $FERRYDESK_REGISTRY_DIR, or
// ${XDG_CONFIG_HOME:-$HOME/.config}/ferrydesk/registry/ when that is not set.
//
// Behaviour worth knowing:
// - Key and value names compare without regard to ASCII letter case and keep the case they
//   were created with. Key paths use backslashes.
// - Every value write, key creation and deletion is its own committed transaction, visible at
//   once to other processes using the same hive, unless it is made through a key opened in a
//   transaction (below): then it is seen by others only when the transaction commits, all of
//   it at once, and a process killed before that leaves none of it.
// - A hive the user may read but not write opens for reading; any open that asks for a write
//   right (KEY_SET_VALUE, KEY_CREATE_SUB_KEY, DELETE, ...) fails with ERROR_ACCESS_DENIED.
// - A key deleted (by this or another process) while a handle to it is open makes every
//   operation on that handle fail with ERROR_KEY_DELETED.
// - A file that is damaged or holds some other database gives ERROR_BADDB or
//   ERROR_REGISTRY_CORRUPT, with RegLastErrorText() naming the file. Such a file is never
//   replaced or written to.
//
// - Each thread keeps its connection to a hive open between calls; a read still sees every
//   change committed before it, by any process.
//
// Handles are not shared between threads; the handle table itself is safe to use from
// several threads. Do not carry open handles across fork().

#include "platform/system_errors.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ferry {

using LONG = int32_t;
using DWORD = uint32_t;
using REGSAM = uint32_t;
struct HKEY__;
using HKEY = HKEY__*;
struct HTRANSACTION__;
using HTRANSACTION = HTRANSACTION__*;

// Predefined root keys. Each has its own hive file named after the root.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t{0x80000000});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002});
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(uintptr_t{0x80000003});
inline HKEY const HKEY_CURRENT_CONFIG = reinterpret_cast<HKEY>(uintptr_t{0x80000005});

// Result codes: the Windows system error numbers. The common ones (ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER,
// ERROR_DISK_FULL, ...) come from platform/system_errors.h; these are the registry's own.
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_BUSY = 170;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_REGISTRY_CORRUPT = 1015;
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_INVALID_TRANSACTION = 6701;
constexpr LONG ERROR_TRANSACTION_NOT_ACTIVE = 6702;

// Value types. Data is kept and returned as raw bytes together with its type.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_RESOURCE_LIST = 8;
constexpr DWORD REG_FULL_RESOURCE_DESCRIPTOR = 9;
constexpr DWORD REG_RESOURCE_REQUIREMENTS_LIST = 10;
constexpr DWORD REG_QWORD = 11;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM REG_DELETE = 0x00010000; // DELETE
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM WRITE_DAC = 0x00040000;
constexpr REGSAM WRITE_OWNER = 0x00080000;
constexpr REGSAM KEY_READ = READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
constexpr REGSAM KEY_WRITE = READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// Creation options and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens an existing key. subKey may be null or empty for a new handle to hKey itself.
LONG RegOpenKeyEx(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result);

// Opens a key, creating it and every missing parent. Volatile keys are not supported and
// are refused with ERROR_INVALID_PARAMETER rather than silently made permanent.
LONG RegCreateKeyEx(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result,
                    DWORD* disposition);

LONG RegCloseKey(HKEY hKey);

// Win32 calling convention: with data null only the type and size are returned; with a
// buffer too small for the data, ERROR_MORE_DATA and the size needed. A null name is the
// key's default value, the same as "".
LONG RegQueryValueEx(HKEY hKey, const char* valueName, DWORD* type, uint8_t* data, DWORD* cbData);

// The same query into a string of bytes.
LONG RegQueryValue(HKEY hKey, std::string_view valueName, DWORD& type, std::string& data);

LONG RegSetValue(HKEY hKey, std::string_view valueName, DWORD type, std::string_view data);

LONG RegDeleteValue(HKEY hKey, const char* valueName);

// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has some, as Windows does).
LONG RegDeleteKey(HKEY hKey, const char* subKey);

// Deletes a key with all its subkeys and values. With subKey null or empty, deletes the
// subkeys and values of hKey but keeps hKey itself.
LONG RegDeleteTree(HKEY hKey, const char* subKey);

// Enumeration by index: subkeys in ASCII case-insensitive name order, values in the order
// they were first written. ERROR_NO_MORE_ITEMS past the end.
LONG RegEnumKeyEx(HKEY hKey, DWORD index, std::string& name);
LONG RegEnumValue(HKEY hKey, DWORD index, std::string& name, DWORD* type, std::string* data);

// Transactions. A transaction takes each hive it touches for itself (one SQLite write
// transaction on a connection of its own, waiting for the hive as long as any write does) when
// the first key of that hive is opened in it; keys opened in it, and keys opened below those,
// read and write inside it. Other handles, in this process too, see the hive as it was until
// the commit; their writes wait for the transaction to end, as another process's would.
// Commit makes every change visible at once (hive by hive, when one transaction spans
// several). A transaction closed, or a process that ends, without a commit leaves nothing.
// After the end, the transaction's keys answer ERROR_TRANSACTION_NOT_ACTIVE; close them.
LONG RegCreateTransaction(HTRANSACTION* result);
LONG RegOpenKeyTransacted(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired,
                          HKEY* result, HTRANSACTION transaction);
LONG RegCreateKeyTransacted(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired,
                            HKEY* result, DWORD* disposition, HTRANSACTION transaction);
// A failed commit rolls everything back and ends the transaction.
LONG RegCommitTransaction(HTRANSACTION transaction);
LONG RegRollbackTransaction(HTRANSACTION transaction);
// Rolls back what was not committed and frees the handle.
LONG RegCloseTransaction(HTRANSACTION transaction);

// The registry calls this thread makes while one lives are one reading: each still reads
// what is committed at the time, but whether anything changed is asked once, when it begins.
// For a few reads that belong together, such as the settings one notification needs.
class RegReadingScope {
public:
    RegReadingScope();
    ~RegReadingScope();
    RegReadingScope(const RegReadingScope&) = delete;
    RegReadingScope& operator=(const RegReadingScope&) = delete;
};

// A description of the last failure on this thread, naming the hive file where one is
// involved ("" after a success).
std::string RegLastErrorText();

// The system message for a result code ("Access is denied.", ...).
std::string RegErrorMessage(LONG code);

// Root key names: "HKEY_LOCAL_MACHINE" and the short form "HKLM", any letter case.
HKEY RegRootFromName(std::string_view name);
std::string RegRootName(HKEY root);

// Where the hives live, and the file of one root's hive.
std::string RegistryDirectory();
std::string RegistryHivePath(HKEY root);

// Whether another program holds a root's hive right now so that a write would have to wait
// (or a read, for a hive this user may only read). Answers at once, never waits, never
// creates or changes anything; a missing or unreadable hive is not busy.
bool RegHiveBusy(HKEY root);

// Runs the database's own integrity check on a root's hive and returns "ok" when it is sound,
// else the problems found. A missing hive is "ok". Never creates or changes anything.
std::string RegVerifyHive(HKEY root);

} // namespace ferry
