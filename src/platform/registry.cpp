#include "platform/registry.h"

#include "platform/hive_watch.h"
#include "platform/registry_hive.h"
#include "platform/registry_roots.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace ferry {

namespace {

// Rights that need a writable hive.
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | REG_DELETE | WRITE_DAC | WRITE_OWNER;

// A transaction: its own connection to each hive it has touched, each inside one long
// SQLite transaction.
struct TransactionState {
    bool Active = true;
    std::map<std::string, std::shared_ptr<RegistryHive>> Hives;

    // Ends it: commits each hive's part (stopping at the first failure, whose code and text
    // it returns) or rolls them all back.
    LONG End(bool commit, std::string& text);
};

struct KeyHandle {
    std::shared_ptr<RegistryHive> Hive;
    int64_t Id = 0;
    REGSAM Access = 0;
    std::shared_ptr<TransactionState> Tx; // set for a key opened in a transaction
};

struct State {
    std::mutex Mutex;
    std::unordered_map<uintptr_t, KeyHandle> Handles;
    std::unordered_map<uintptr_t, std::shared_ptr<TransactionState>> Transactions;
    // A connection kept from the last transaction on each hive, so that the next one need not
    // open the file and read its schema again.
    std::map<std::string, std::shared_ptr<RegistryHive>> SpareConnections;
    uintptr_t Next = 0x1000;
};

// Never destroyed: handles may be closed during exit. A child made by fork() must not use
// its parent's database connections, so it starts with an empty table of its own (the
// inherited one is left untouched, not closed, to keep the parent's files as they are).
// Told by fork itself rather than by asking getpid() on every call, which is a system call
// and would cost more than the rest of a value write.
State* gState = nullptr;
// Bumped in a child made by fork(): connections inherited from the parent are then left alone.
std::atomic<uint64_t> gForkGeneration{0};

void StartAfresh() {
    gState = new State;
    gForkGeneration.fetch_add(1, std::memory_order_relaxed);
}

State& Global() {
    static const bool once = [] {
        gState = new State;
        pthread_atfork(nullptr, nullptr, StartAfresh);
        return true;
    }();
    (void)once;
    return *gState;
}

LONG TransactionState::End(bool commit, std::string& text) {
    LONG result = ERROR_SUCCESS;
    for (auto& [path, hive] : Hives) {
        if (commit && result == ERROR_SUCCESS) {
            result = hive->CommitTransaction();
            if (result != ERROR_SUCCESS)
                text = hive->LastError;
        } else {
            hive->RollbackTransaction();
        }
    }
    {
        State& st = Global();
        std::lock_guard lock(st.Mutex);
        for (auto& [path, hive] : Hives)
            if (!hive->InTransaction())
                st.SpareConnections[path] = hive;
    }
    Hives.clear();
    Active = false;
    return result;
}

thread_local std::string tLastError;

LONG Done(LONG code, std::string text = {}) {
    tLastError = code == ERROR_SUCCESS ? std::string() : std::move(text);
    if (code != ERROR_SUCCESS && tLastError.empty())
        tLastError = RegErrorMessage(code);
    return code;
}

// This thread's connection to each hive it has used, kept open between actions so that a
// read costs a look at the file's header rather than an open of it. Values are still read from
// the file each time (the hive serves a remembered one only while the header's change counter
// says nobody committed since); what is checked here is that the path still names the file the
// connection opened, with the same rights, and that it is still a hive in rollback mode.
// A hive found missing is remembered with a watch on the names around it, so that asking for it
// again (another user's machine-wide settings, say, that nobody ever made) costs no look at
// the file system until a name there changes.
struct MissingHive {
    uint64_t Watched = 0;
    uint64_t Epoch = 0;
    std::string Error;
};
struct ThreadHives {
    std::unordered_map<std::string, std::shared_ptr<RegistryHive>> Hives;
    std::unordered_map<std::string, MissingHive> Missing;
    uint64_t Generation = 0;
};

// Remembers that no hive is at path, when the watch began before the name was seen missing.
void RememberMissing(ThreadHives& mine, const std::string& path, const std::string& error) {
    MissingHive missing;
    missing.Watched = hive_watch::WatchName(path);
    if (missing.Watched == 0)
        return;
    missing.Epoch = hive_watch::Epoch(missing.Watched);
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 || errno != ENOENT)
        return;
    missing.Error = error;
    mine.Missing[path] = std::move(missing);
}
thread_local ThreadHives tHives;

LONG HiveFor(const std::string& path, bool create, std::shared_ptr<RegistryHive>& hive) {
    hive_watch::NewCall();
    Global(); // the fork handler must be in place before any connection is kept
    ThreadHives& mine = tHives;
    const uint64_t generation = gForkGeneration.load(std::memory_order_relaxed);
    if (mine.Generation != generation) {
        // The parent's connections: never closed here, so its files stay as they are.
        new std::unordered_map<std::string, std::shared_ptr<RegistryHive>>(std::move(mine.Hives));
        mine.Hives.clear();
        mine.Missing.clear();
        mine.Generation = generation;
    }
    if (!create) {
        auto missing = mine.Missing.find(path);
        if (missing != mine.Missing.end()) {
            if (hive_watch::Epoch(missing->second.Watched) == missing->second.Epoch)
                return Done(ERROR_FILE_NOT_FOUND, missing->second.Error);
            mine.Missing.erase(missing);
        }
    }
    auto it = mine.Hives.find(path);
    if (it != mine.Hives.end()) {
        if (it->second->StillCurrent()) {
            hive = it->second;
            return ERROR_SUCCESS;
        }
        mine.Hives.erase(it);
    }
    std::string error;
    LONG r = RegistryHive::Open(path, false, hive, error);
    if (r == ERROR_FILE_NOT_FOUND && create)
        r = RegistryHive::Open(path, true, hive, error);
    if (r == ERROR_FILE_NOT_FOUND && !create)
        RememberMissing(mine, path, error);
    if (r != ERROR_SUCCESS)
        return Done(r, error);
    mine.Missing.erase(path);
    if (hive->HasTables())
        mine.Hives[path] = hive;
    return ERROR_SUCCESS;
}

// Finds what a handle stands for. Predefined roots open their hive for the call.
LONG Resolve(HKEY key, bool create, KeyHandle& out) {
    hive_watch::NewCall(); // every call begins here, or in ResolveIn or FindTransaction
    if (RegPredefinedRootName(key)) {
        out.Id = RegistryHive::RootId;
        out.Access = KEY_ALL_ACCESS;
        return HiveFor(RegistryHivePath(key), create, out.Hive);
    }
    State& st = Global();
    std::lock_guard lock(st.Mutex);
    auto it = st.Handles.find(reinterpret_cast<uintptr_t>(key));
    if (it == st.Handles.end())
        return Done(ERROR_INVALID_HANDLE);
    out = it->second;
    if (out.Tx && !out.Tx->Active)
        return Done(ERROR_TRANSACTION_NOT_ACTIVE);
    return ERROR_SUCCESS;
}

LONG FindTransaction(HTRANSACTION transaction, std::shared_ptr<TransactionState>& out) {
    hive_watch::NewCall();
    State& st = Global();
    std::lock_guard lock(st.Mutex);
    auto it = st.Transactions.find(reinterpret_cast<uintptr_t>(transaction));
    if (it == st.Transactions.end())
        return Done(ERROR_INVALID_HANDLE);
    out = it->second;
    if (!out->Active)
        return Done(ERROR_TRANSACTION_NOT_ACTIVE);
    return ERROR_SUCCESS;
}

// The transaction's own connection to the hive at path, opened and taken for it on first use.
LONG TransactionHive(TransactionState& tx, const std::string& path, bool create,
                     std::shared_ptr<RegistryHive>& hive) {
    auto it = tx.Hives.find(path);
    if (it != tx.Hives.end()) {
        hive = it->second;
        return ERROR_SUCCESS;
    }
    hive.reset();
    {
        State& st = Global();
        std::lock_guard lock(st.Mutex);
        auto spare = st.SpareConnections.find(path);
        if (spare != st.SpareConnections.end()) {
            if (spare->second.use_count() == 1 && spare->second->StillCurrent())
                hive = spare->second;
            st.SpareConnections.erase(spare);
        }
    }
    if (!hive) {
        std::string error;
        LONG r = RegistryHive::Open(path, false, hive, error);
        if (r == ERROR_FILE_NOT_FOUND && create)
            r = RegistryHive::Open(path, true, hive, error);
        if (r != ERROR_SUCCESS)
            return Done(r, error);
    }
    if (LONG r = hive->BeginTransaction(); r != ERROR_SUCCESS)
        return Done(r, hive->LastError);
    tx.Hives.emplace(path, hive);
    return ERROR_SUCCESS;
}

// A handle's key as seen inside tx: on the transaction's connection to the key's hive.
LONG ResolveIn(HKEY key, bool create, const std::shared_ptr<TransactionState>& tx, KeyHandle& out) {
    hive_watch::NewCall();
    if (RegPredefinedRootName(key)) {
        out.Id = RegistryHive::RootId;
        out.Access = KEY_ALL_ACCESS;
        out.Tx = tx;
        return TransactionHive(*tx, RegistryHivePath(key), create, out.Hive);
    }
    KeyHandle h;
    if (LONG r = Resolve(key, false, h))
        return r;
    if (h.Tx && h.Tx != tx)
        return Done(ERROR_INVALID_TRANSACTION, "the key belongs to another transaction");
    out = h;
    out.Tx = tx;
    if (h.Tx)
        return ERROR_SUCCESS;
    return TransactionHive(*tx, h.Hive->Path(), false, out.Hive);
}

HKEY NewHandle(KeyHandle h) {
    State& st = Global();
    std::lock_guard lock(st.Mutex);
    uintptr_t value = st.Next;
    st.Next += 4;
    st.Handles.emplace(value, std::move(h));
    return reinterpret_cast<HKEY>(value);
}

LONG SplitPath(const char* subKey, std::vector<std::string>& parts) {
    parts.clear();
    if (!subKey || !*subKey)
        return ERROR_SUCCESS;
    std::string_view path(subKey);
    if (path.back() == '\\')
        path.remove_suffix(1); // one trailing backslash is harmless, as on Windows
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        std::string_view part =
            path.substr(start, end == std::string_view::npos ? path.npos : end - start);
        if (part.empty())
            return Done(ERROR_BADKEY, "empty name in key path '" + std::string(subKey) + "'");
        if (part.size() > RegistryHive::MaxKeyNameLength)
            return Done(ERROR_INVALID_PARAMETER, "key name longer than 255 characters");
        parts.emplace_back(part);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    if (parts.size() > RegistryHive::MaxDepth)
        return Done(ERROR_INVALID_PARAMETER, "key path too deep");
    return ERROR_SUCCESS;
}

LONG FromHive(const KeyHandle& h, LONG r) {
    return Done(r, h.Hive->LastError);
}

LONG NeedWrite(const KeyHandle& h, REGSAM right) {
    if ((h.Access & right) == 0)
        return Done(ERROR_ACCESS_DENIED, "the key was not opened for writing");
    if (!h.Hive->Writable())
        return Done(ERROR_ACCESS_DENIED,
                    "registry hive '" + h.Hive->Path() + "' may not be written by this user");
    return ERROR_SUCCESS;
}

} // namespace

RegReadingScope::RegReadingScope() {
    hive_watch::BeginReading();
}

RegReadingScope::~RegReadingScope() {
    hive_watch::EndReading();
}

std::string RegLastErrorText() {
    return tLastError;
}

// The key a new key is opened or created below: in the named transaction, or on its own.
static LONG ResolveParent(HKEY hKey, bool forCreate, bool inTransaction, HTRANSACTION transaction,
                          KeyHandle& parent) {
    if (!inTransaction)
        return Resolve(hKey, forCreate, parent);
    std::shared_ptr<TransactionState> tx;
    if (LONG r = FindTransaction(transaction, tx))
        return r;
    return ResolveIn(hKey, forCreate, tx, parent);
}

static LONG OpenKeyImpl(HKEY hKey, const char* subKey, REGSAM samDesired, HKEY* result,
                        HTRANSACTION transaction, bool inTransaction) {
    if (!result)
        return Done(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    thread_local std::vector<std::string> parts; // its room kept from call to call
    if (LONG r = SplitPath(subKey, parts))
        return r;
    KeyHandle parent;
    if (LONG r = ResolveParent(hKey, false, inTransaction, transaction, parent))
        return r;
    int64_t id = 0;
    if (LONG r = parent.Hive->OpenPath(parent.Id, parts, id))
        return FromHive(parent, r);
    if ((samDesired & kWriteRights) && !parent.Hive->Writable())
        return Done(ERROR_ACCESS_DENIED,
                    "registry hive '" + parent.Hive->Path() + "' may not be written by this user");
    *result = NewHandle({parent.Hive, id, samDesired, parent.Tx});
    return Done(ERROR_SUCCESS);
}

LONG RegOpenKeyEx(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result) {
    return OpenKeyImpl(hKey, subKey, samDesired, result, nullptr, false);
}

LONG RegOpenKeyTransacted(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired,
                          HKEY* result, HTRANSACTION transaction) {
    return OpenKeyImpl(hKey, subKey, samDesired, result, transaction, true);
}

static LONG CreateKeyImpl(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired,
                          HKEY* result, DWORD* disposition, HTRANSACTION transaction,
                          bool inTransaction) {
    if (!result)
        return Done(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    if (options & REG_OPTION_VOLATILE)
        return Done(ERROR_INVALID_PARAMETER, "volatile keys are not supported");
    std::vector<std::string> parts;
    if (LONG r = SplitPath(subKey, parts))
        return r;
    KeyHandle parent;
    if (LONG r = ResolveParent(hKey, true, inTransaction, transaction, parent))
        return r;
    int64_t id = 0;
    bool created = false;
    LONG r = parent.Hive->OpenPath(parent.Id, parts, id);
    if (r == ERROR_FILE_NOT_FOUND)
        r = parent.Hive->CreatePath(parent.Id, parts, id, created);
    if (r != ERROR_SUCCESS)
        return FromHive(parent, r);
    if ((samDesired & kWriteRights) && !parent.Hive->Writable())
        return Done(ERROR_ACCESS_DENIED,
                    "registry hive '" + parent.Hive->Path() + "' may not be written by this user");
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle({parent.Hive, id, samDesired, parent.Tx});
    return Done(ERROR_SUCCESS);
}

LONG RegCreateKeyEx(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result,
                    DWORD* disposition) {
    return CreateKeyImpl(hKey, subKey, options, samDesired, result, disposition, nullptr, false);
}

LONG RegCreateKeyTransacted(HKEY hKey, const char* subKey, DWORD options, REGSAM samDesired,
                            HKEY* result, DWORD* disposition, HTRANSACTION transaction) {
    return CreateKeyImpl(hKey, subKey, options, samDesired, result, disposition, transaction, true);
}

LONG RegCreateTransaction(HTRANSACTION* result) {
    if (!result)
        return Done(ERROR_INVALID_PARAMETER);
    State& st = Global();
    std::lock_guard lock(st.Mutex);
    uintptr_t value = st.Next;
    st.Next += 4;
    st.Transactions.emplace(value, std::make_shared<TransactionState>());
    *result = reinterpret_cast<HTRANSACTION>(value);
    return Done(ERROR_SUCCESS);
}

LONG RegCommitTransaction(HTRANSACTION transaction) {
    std::shared_ptr<TransactionState> tx;
    if (LONG r = FindTransaction(transaction, tx))
        return r;
    std::string text;
    LONG result = tx->End(true, text);
    return Done(result, text);
}

LONG RegRollbackTransaction(HTRANSACTION transaction) {
    std::shared_ptr<TransactionState> tx;
    if (LONG r = FindTransaction(transaction, tx))
        return r;
    std::string text;
    tx->End(false, text);
    return Done(ERROR_SUCCESS);
}

LONG RegCloseTransaction(HTRANSACTION transaction) {
    std::shared_ptr<TransactionState> tx;
    {
        State& st = Global();
        std::lock_guard lock(st.Mutex);
        auto it = st.Transactions.find(reinterpret_cast<uintptr_t>(transaction));
        if (it == st.Transactions.end())
            return Done(ERROR_INVALID_HANDLE);
        tx = std::move(it->second);
        st.Transactions.erase(it);
    }
    if (tx->Active) {
        std::string text;
        tx->End(false, text);
    }
    return Done(ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY hKey) {
    if (RegPredefinedRootName(hKey))
        return Done(ERROR_SUCCESS);
    std::shared_ptr<RegistryHive> last; // released outside the lock
    State& st = Global();
    std::lock_guard lock(st.Mutex);
    auto it = st.Handles.find(reinterpret_cast<uintptr_t>(hKey));
    if (it == st.Handles.end())
        return Done(ERROR_INVALID_HANDLE);
    last = std::move(it->second.Hive);
    st.Handles.erase(it);
    return Done(ERROR_SUCCESS);
}

LONG RegQueryValue(HKEY hKey, std::string_view valueName, DWORD& type, std::string& data) {
    KeyHandle h;
    if (LONG r = Resolve(hKey, false, h))
        return r;
    if ((h.Access & KEY_QUERY_VALUE) == 0)
        return Done(ERROR_ACCESS_DENIED, "the key was not opened for querying values");
    return FromHive(h, h.Hive->QueryValue(h.Id, valueName, type, data));
}

LONG RegQueryValueEx(HKEY hKey, const char* valueName, DWORD* type, uint8_t* data, DWORD* cbData) {
    if (data && !cbData)
        return Done(ERROR_INVALID_PARAMETER);
    DWORD t = 0;
    std::string bytes;
    if (LONG r = RegQueryValue(hKey, valueName ? valueName : "", t, bytes))
        return r;
    if (type)
        *type = t;
    DWORD size = static_cast<DWORD>(bytes.size());
    if (!cbData)
        return Done(ERROR_SUCCESS);
    if (data && *cbData < size) {
        *cbData = size;
        return Done(ERROR_MORE_DATA);
    }
    if (data)
        std::memcpy(data, bytes.data(), size);
    *cbData = size;
    return Done(ERROR_SUCCESS);
}

LONG RegSetValue(HKEY hKey, std::string_view valueName, DWORD type, std::string_view data) {
    if (valueName.size() > RegistryHive::MaxValueNameLength)
        return Done(ERROR_INVALID_PARAMETER, "value name too long");
    KeyHandle h;
    if (LONG r = Resolve(hKey, true, h))
        return r;
    if (LONG r = NeedWrite(h, KEY_SET_VALUE))
        return r;
    return FromHive(h, h.Hive->SetValue(h.Id, valueName, type, data));
}

LONG RegDeleteValue(HKEY hKey, const char* valueName) {
    KeyHandle h;
    if (LONG r = Resolve(hKey, false, h))
        return r;
    if (LONG r = NeedWrite(h, KEY_SET_VALUE))
        return r;
    return FromHive(h, h.Hive->DeleteValue(h.Id, valueName ? valueName : ""));
}

static LONG DeleteKeyImpl(HKEY hKey, const char* subKey, bool tree) {
    std::vector<std::string> parts;
    if (LONG r = SplitPath(subKey, parts))
        return r;
    KeyHandle h;
    if (LONG r = Resolve(hKey, false, h))
        return r;
    int64_t id = 0;
    if (LONG r = h.Hive->OpenPath(h.Id, parts, id))
        return FromHive(h, r);
    if (!h.Hive->Writable())
        return Done(ERROR_ACCESS_DENIED,
                    "registry hive '" + h.Hive->Path() + "' may not be written by this user");
    bool keepSelf = tree && parts.empty();
    return FromHive(h, h.Hive->DeleteKey(id, keepSelf, !tree));
}

LONG RegDeleteKey(HKEY hKey, const char* subKey) {
    return DeleteKeyImpl(hKey, subKey, false);
}

LONG RegDeleteTree(HKEY hKey, const char* subKey) {
    return DeleteKeyImpl(hKey, subKey, true);
}

LONG RegEnumKeyEx(HKEY hKey, DWORD index, std::string& name) {
    KeyHandle h;
    if (LONG r = Resolve(hKey, false, h))
        return r;
    if ((h.Access & KEY_ENUMERATE_SUB_KEYS) == 0)
        return Done(ERROR_ACCESS_DENIED);
    return FromHive(h, h.Hive->EnumKey(h.Id, index, name));
}

LONG RegEnumValue(HKEY hKey, DWORD index, std::string& name, DWORD* type, std::string* data) {
    KeyHandle h;
    if (LONG r = Resolve(hKey, false, h))
        return r;
    if ((h.Access & KEY_QUERY_VALUE) == 0)
        return Done(ERROR_ACCESS_DENIED);
    return FromHive(h, h.Hive->EnumValue(h.Id, index, name, type, data));
}

bool RegHiveBusy(HKEY root) {
    return RegistryHive::Busy(RegistryHivePath(root));
}

std::string RegVerifyHive(HKEY root) {
    std::shared_ptr<RegistryHive> hive;
    LONG r = HiveFor(RegistryHivePath(root), false, hive);
    if (r == ERROR_FILE_NOT_FOUND)
        return "ok";
    if (r != ERROR_SUCCESS)
        return RegLastErrorText();
    return hive->IntegrityCheck();
}

} // namespace ferry
