#include "platform/registry_hive.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

namespace {

// 'FDRG' in the file header tells our hives apart from other SQLite databases.
constexpr int kApplicationId = 0x46445247;
constexpr int kFormatVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

// The rollback journal, not WAL: a WAL database cannot even be read by a user who may not
// write its directory, and a machine-wide hive readable by everyone but writable only by its
// owner is exactly the case the program must handle. AUTOINCREMENT so that a deleted key's
// id is never handed to a new key: a stale handle must see ERROR_KEY_DELETED, not a stranger.
const char* const kSchema = R"sql(
CREATE TABLE regkey(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER REFERENCES regkey(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    fold TEXT NOT NULL);
CREATE UNIQUE INDEX regkey_child ON regkey(parent, fold);
CREATE TABLE regvalue(
    key INTEGER NOT NULL REFERENCES regkey(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    fold TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold));
INSERT INTO regkey(id, parent, name, fold) VALUES(1, NULL, '', '');
)sql";

enum Slot {
    kCheckKey,
    kFindChild,
    kInsertKey,
    kQueryValue,
    kUpsertValue,
    kDeleteValue,
    kDeleteKey,
    kDeleteChildren,
    kDeleteValues,
    kEnumKey,
    kEnumValue,
    kCountKeys,
    kCountValues,
    kParentOf,
    kSlotCount
};

// Resets a cached statement when the operation using it ends, however it ends.
struct Use {
    sqlite3_stmt* s;
    ~Use() {
        if (s) {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
        }
    }
};

void BindText(sqlite3_stmt* s, int i, std::string_view t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt* s, int i) {
    const void* p = sqlite3_column_blob(s, i);
    int n = sqlite3_column_bytes(s, i);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

bool MakeDirectories(const std::string& dir) {
    if (dir.empty())
        return true;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash)))
        return false;
    // Settings are the user's own business: the directory is private.
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A transaction for one operation that rolls back unless committed. Inside a long
// transaction of the connection it does nothing: the operation is part of that one.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : Db(db) {}
    ~Transaction() {
        if (Open)
            sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    int Begin(bool writing) {
        if (!sqlite3_get_autocommit(Db))
            return SQLITE_OK;
        int rc = sqlite3_exec(Db, writing ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
        Open = rc == SQLITE_OK;
        return rc;
    }
    int Commit() {
        if (!Open)
            return SQLITE_OK;
        int rc = sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            Open = false;
        return rc;
    }

private:
    sqlite3* Db;
    bool Open = false;
};

} // namespace

std::string RegistryFold(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

RegistryHive::~RegistryHive() {
    for (sqlite3_stmt* s : Statements_)
        sqlite3_finalize(s);
    if (Db_)
        sqlite3_close_v2(Db_);
}

LONG RegistryHive::Open(const std::string& path, bool create, std::shared_ptr<RegistryHive>& out,
                        std::string& error) {
    out.reset();
    std::shared_ptr<RegistryHive> hive(new RegistryHive());
    hive->Path_ = path;
    std::string dir = DirectoryOf(path);

    struct stat st;
    bool exists = stat(path.c_str(), &st) == 0;
    if (!exists) {
        if (!create) {
            error = "registry hive '" + path + "' does not exist";
            return ERROR_FILE_NOT_FOUND;
        }
        if (!MakeDirectories(dir)) {
            error = "cannot create the registry directory '" + dir + "': " + strerror(errno);
            return errno == EACCES || errno == EPERM || errno == EROFS ? ERROR_ACCESS_DENIED
                                                                       : ERROR_CANTWRITE;
        }
    } else {
        if (!S_ISREG(st.st_mode)) {
            error = "registry hive '" + path + "' is not a regular file";
            return ERROR_BADDB;
        }
        if (faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0) {
            error = "registry hive '" + path + "' cannot be read: " + strerror(errno);
            return ERROR_ACCESS_DENIED;
        }
    }

    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &hive->Db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        error = "cannot open registry hive '" + path +
                "': " + (hive->Db_ ? sqlite3_errmsg(hive->Db_) : sqlite3_errstr(rc));
        return rc == SQLITE_CANTOPEN && (errno == EACCES || errno == EPERM) ? ERROR_ACCESS_DENIED
                                                                            : ERROR_CANTOPEN;
    }
    sqlite3_busy_timeout(hive->Db_, kBusyTimeoutMs);
    // A read-only file opens read-write "successfully" as read-only; ask.  And without write
    // access to the directory the journal cannot be created, so no write could commit.
    hive->Writable_ = sqlite3_db_readonly(hive->Db_, "main") == 0 &&
                      faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    LONG r = hive->Prepare();
    if (r != ERROR_SUCCESS) {
        error = hive->LastError;
        return r;
    }
    if (hive->Writable_)
        hive->LeaveWal();
    struct stat opened;
    if (stat(path.c_str(), &opened) == 0) {
        hive->Device_ = opened.st_dev;
        hive->Inode_ = opened.st_ino;
    }
    out = std::move(hive);
    return ERROR_SUCCESS;
}

bool RegistryHive::StillCurrent() {
    struct stat now;
    if (stat(Path_.c_str(), &now) != 0 || now.st_dev != Device_ || now.st_ino != Inode_)
        return false;
    const bool writable =
        faccessat(AT_FDCWD, Path_.c_str(), R_OK | W_OK, AT_EACCESS) == 0 &&
        faccessat(AT_FDCWD, DirectoryOf(Path_).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    std::lock_guard lock(Mutex_);
    uint32_t counter = 0;
    return writable == Writable_ && !InTransaction_ && ReadHeader(counter);
}

// The same file may have been rewritten in place: a damaged header, another database, or a
// switch to WAL that only an open puts back. SQLite would go on trusting its cache when the
// change counter did not move, so the header is looked at through SQLite's own file handle:
// one pread, no lock. In rollback-journal mode every commit by any connection increments the
// change counter (it is what data_version is made from), so an unchanged counter means
// nothing was committed since it was last seen.
bool RegistryHive::ReadHeader(uint32_t& counter) {
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(Db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods)
        return false;
    unsigned char header[100];
    if (file->pMethods->xRead(file, header, sizeof header, 0) != SQLITE_OK)
        return false;
    auto be32 = [&](int at) {
        return (uint32_t{header[at]} << 24) | (uint32_t{header[at + 1]} << 16) |
               (uint32_t{header[at + 2]} << 8) | uint32_t{header[at + 3]};
    };
    counter = be32(24);
    return std::memcmp(header, "SQLite format 3", 16) == 0 && header[18] == 1 && header[19] == 1 &&
           be32(68) == static_cast<uint32_t>(kApplicationId) &&
           be32(60) <= static_cast<uint32_t>(kFormatVersion);
}

LONG RegistryHive::Prepare() {
    Statements_.assign(kSlotCount, nullptr);
    int rc = sqlite3_exec(Db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return Fail(rc, false);

    for (int attempt = 0; attempt < 2; ++attempt) {
        Transaction tx(Db_);
        rc = tx.Begin(attempt == 1);
        if (rc != SQLITE_OK)
            return Fail(rc, attempt == 1);
        int appId = 0, version = 0, objects = 0;
        sqlite3_stmt* s = nullptr;
        rc = sqlite3_prepare_v2(Db_,
                                "SELECT (SELECT application_id FROM pragma_application_id),"
                                " (SELECT user_version FROM pragma_user_version),"
                                " (SELECT count(*) FROM sqlite_schema)",
                                -1, &s, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(s);
            if (rc == SQLITE_ROW) {
                appId = sqlite3_column_int(s, 0);
                version = sqlite3_column_int(s, 1);
                objects = sqlite3_column_int(s, 2);
                rc = SQLITE_OK;
            }
        }
        sqlite3_finalize(s);
        if (rc == SQLITE_NOTADB) {
            LastError = "'" + Path_ +
                        "' is not a registry hive (not a database file); it has been left as it is";
            return ERROR_BADDB;
        }
        if (rc != SQLITE_OK)
            return Fail(rc, false);
        if (appId == kApplicationId) {
            if (version > kFormatVersion) {
                LastError = "registry hive '" + Path_ +
                            "' was written by a newer version (format " + std::to_string(version) +
                            ")";
                return ERROR_BADDB;
            }
            HasTables_ = true;
            return ERROR_SUCCESS;
        }
        if (appId != 0 || objects != 0) {
            LastError = "'" + Path_ +
                        "' is not a registry hive (it holds some other database); it has been left "
                        "as it is";
            return ERROR_BADDB;
        }
        // An empty file: a new hive. Read-only, it is simply a hive with no keys yet.
        if (!Writable_) {
            HasTables_ = false;
            return ERROR_SUCCESS;
        }
        if (attempt == 0)
            continue; // look again under the write lock: another process may be creating it
        std::string sql = std::string(kSchema) +
                          "PRAGMA application_id=" + std::to_string(kApplicationId) +
                          ";PRAGMA user_version=" + std::to_string(kFormatVersion) + ";";
        rc = sqlite3_exec(Db_, sql.c_str(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return Fail(rc, true);
        rc = tx.Commit();
        if (rc != SQLITE_OK)
            return Fail(rc, true);
        HasTables_ = true;
        return ERROR_SUCCESS;
    }
    return ERROR_CANTOPEN;
}

// A hive someone switched to WAL (with the sqlite3 shell, say) could no longer be read by users
// who may not write its directory; whoever may write puts it back. If other connections are
// open the switch fails harmlessly and is tried again at the next open.
void RegistryHive::LeaveWal() {
    sqlite3_stmt* s = nullptr;
    bool wal = false;
    if (sqlite3_prepare_v2(Db_, "PRAGMA journal_mode", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
        const unsigned char* mode = sqlite3_column_text(s, 0);
        wal = mode && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
    }
    sqlite3_finalize(s);
    if (wal)
        sqlite3_exec(Db_, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
}

LONG RegistryHive::Fail(int rc, bool writing) {
    LastError = "registry hive '" + Path_ + "': " + sqlite3_errmsg(Db_);
    switch (rc & 0xff) {
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_CANTOPEN:
        // A journal that cannot be created means the directory may not be written.
        return writing ? ERROR_ACCESS_DENIED : ERROR_CANTOPEN;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
        return ERROR_REGISTRY_CORRUPT;
    case SQLITE_IOERR:
        return ERROR_REGISTRY_IO_FAILED;
    default:
        return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

sqlite3_stmt* RegistryHive::Statement(int slot, const char* sql) {
    sqlite3_stmt*& s = Statements_[static_cast<size_t>(slot)];
    if (!s && sqlite3_prepare_v3(Db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
        s = nullptr;
    return s;
}

LONG RegistryHive::Exec(const char* sql, bool writing) {
    int rc = sqlite3_exec(Db_, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? ERROR_SUCCESS : Fail(rc, writing);
}

#define FERRY_STMT(var, slot, sql)                                                                 \
    sqlite3_stmt* var = Statement(slot, sql);                                                      \
    if (!var)                                                                                      \
        return Fail(sqlite3_errcode(Db_), false);                                                  \
    Use var##_use{var};

LONG RegistryHive::CheckKey(int64_t id, bool refreshed) {
    if (!HasTables_)
        return id == RootId ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    auto& known = InTransaction_ ? KnownKeys_ : LiveKeys_;
    const bool remembered = InTransaction_ || (refreshed && Known_);
    if (remembered && known.count(id))
        return ERROR_SUCCESS;
    FERRY_STMT(s, kCheckKey, "SELECT 1 FROM regkey WHERE id=?");
    sqlite3_bind_int64(s, 1, id);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        if (remembered)
            known.insert(id);
        return ERROR_SUCCESS;
    }
    if (rc == SQLITE_DONE) {
        LastError = "the key has been deleted";
        return ERROR_KEY_DELETED;
    }
    return Fail(rc, false);
}

void RegistryHive::Refresh() {
    if (InTransaction_ || !HasTables_)
        return;
    uint32_t counter = 0;
    if (!ReadHeader(counter)) {
        Forget(); // the statements will find out what is wrong and say so
        return;
    }
    if (!Known_ || counter != Counter_) {
        Forget();
        Counter_ = counter;
        Known_ = true;
    }
}

void RegistryHive::Forget() {
    Known_ = false;
    Paths_.clear();
    LiveKeys_.clear();
    Values_.clear();
}

LONG RegistryHive::KeyExists(int64_t id) {
    std::lock_guard lock(Mutex_);
    LastError.clear();
    return CheckKey(id);
}

LONG RegistryHive::FindChild(int64_t parent, std::string_view name, int64_t& id) {
    if (!HasTables_)
        return ERROR_FILE_NOT_FOUND;
    FERRY_STMT(s, kFindChild, "SELECT id FROM regkey WHERE parent=? AND fold=?");
    sqlite3_bind_int64(s, 1, parent);
    BindText(s, 2, RegistryFold(name));
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        id = sqlite3_column_int64(s, 0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc, false);
}

LONG RegistryHive::DepthOf(int64_t id, size_t& depth) {
    depth = 0;
    FERRY_STMT(s, kParentOf, "SELECT parent FROM regkey WHERE id=?");
    while (id != RootId && depth <= MaxDepth) {
        sqlite3_reset(s);
        sqlite3_bind_int64(s, 1, id);
        int rc = sqlite3_step(s);
        if (rc != SQLITE_ROW)
            return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Fail(rc, false);
        id = sqlite3_column_int64(s, 0);
        ++depth;
    }
    return ERROR_SUCCESS;
}

LONG RegistryHive::OpenPath(int64_t from, const std::vector<std::string>& parts, int64_t& id) {
    std::lock_guard lock(Mutex_);
    LastError.clear();
    Refresh();
    const bool remember = !InTransaction_ && Known_;
    std::string path;
    if (remember) {
        path = std::to_string(from);
        for (const std::string& part : parts)
            path += '\\' + RegistryFold(part);
        if (auto it = Paths_.find(path); it != Paths_.end()) {
            id = it->second;
            return ERROR_SUCCESS;
        }
    }
    Transaction tx(Db_);
    int rc = tx.Begin(false);
    if (rc != SQLITE_OK)
        return Fail(rc, false);
    LONG r = CheckKey(from, true);
    if (r != ERROR_SUCCESS)
        return r;
    int64_t cur = from;
    for (const std::string& part : parts) {
        r = FindChild(cur, part, cur);
        if (r != ERROR_SUCCESS)
            return r;
    }
    id = cur;
    if (remember) {
        if (Paths_.size() >= 1024)
            Paths_.clear();
        Paths_.emplace(std::move(path), cur);
        LiveKeys_.insert(cur);
    }
    return ERROR_SUCCESS;
}

LONG RegistryHive::CreatePath(int64_t from, const std::vector<std::string>& parts, int64_t& id,
                              bool& created) {
    std::lock_guard lock(Mutex_);
    Forget();
    LastError.clear();
    created = false;
    if (!Writable_) {
        LastError = "registry hive '" + Path_ + "' may not be written by this user";
        return ERROR_ACCESS_DENIED;
    }
    Transaction tx(Db_);
    int rc = tx.Begin(true);
    if (rc != SQLITE_OK)
        return Fail(rc, true);
    LONG r = CheckKey(from);
    if (r != ERROR_SUCCESS)
        return r;
    size_t depth = 0;
    r = DepthOf(from, depth);
    if (r != ERROR_SUCCESS)
        return r;
    int64_t cur = from;
    for (const std::string& part : parts) {
        int64_t next = 0;
        r = FindChild(cur, part, next);
        if (r == ERROR_FILE_NOT_FOUND) {
            if (depth + 1 > MaxDepth)
                return ERROR_INVALID_PARAMETER;
            FERRY_STMT(ins, kInsertKey, "INSERT INTO regkey(parent, name, fold) VALUES(?,?,?)");
            sqlite3_bind_int64(ins, 1, cur);
            BindText(ins, 2, part);
            BindText(ins, 3, RegistryFold(part));
            rc = sqlite3_step(ins);
            if (rc != SQLITE_DONE)
                return Fail(rc, true);
            next = sqlite3_last_insert_rowid(Db_);
            created = true;
        } else if (r != ERROR_SUCCESS) {
            return r;
        }
        cur = next;
        ++depth;
    }
    rc = tx.Commit();
    if (rc != SQLITE_OK)
        return Fail(rc, true);
    id = cur;
    return ERROR_SUCCESS;
}

LONG RegistryHive::QueryValue(int64_t key, std::string_view name, DWORD& type, std::string& data) {
    std::lock_guard lock(Mutex_);
    LastError.clear();
    // Every read asks the file whether it changed; only when nothing did is a value read
    // before served again, which saves the statements but never a change.
    Refresh();
    const bool remember = !InTransaction_ && Known_;
    ValueKey id{key, RegistryFold(name)};
    if (remember) {
        auto it = Values_.find(id);
        if (it != Values_.end()) {
            if (!it->second.Present)
                return ERROR_FILE_NOT_FOUND;
            type = it->second.Type;
            data = it->second.Data;
            return ERROR_SUCCESS;
        }
    }
    LONG r = CheckKey(key, true);
    if (r != ERROR_SUCCESS || !HasTables_)
        return r == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : r;
    FERRY_STMT(s, kQueryValue, "SELECT type, data FROM regvalue WHERE key=? AND fold=?");
    sqlite3_bind_int64(s, 1, key);
    BindText(s, 2, id.Fold);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return Fail(rc, false);
    CachedValue v;
    v.Present = rc == SQLITE_ROW;
    if (v.Present) {
        v.Type = static_cast<DWORD>(sqlite3_column_int64(s, 0));
        v.Data = ColumnBytes(s, 1);
        type = v.Type;
        data = v.Data;
    }
    if (remember) {
        if (Values_.size() >= 4096)
            Values_.clear();
        Values_.emplace(std::move(id), std::move(v));
    }
    return rc == SQLITE_ROW ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegistryHive::SetValue(int64_t key, std::string_view name, DWORD type, std::string_view data) {
    std::lock_guard lock(Mutex_);
    Forget();
    LastError.clear();
    if (!Writable_) {
        LastError = "registry hive '" + Path_ + "' may not be written by this user";
        return ERROR_ACCESS_DENIED;
    }
    Transaction tx(Db_);
    int rc = tx.Begin(true);
    if (rc != SQLITE_OK)
        return Fail(rc, true);
    LONG r = CheckKey(key);
    if (r != ERROR_SUCCESS)
        return r;
    // The first writer's spelling of the name and its place in the enumeration stay.
    FERRY_STMT(s, kUpsertValue,
               "INSERT INTO regvalue(key, name, fold, type, data) VALUES(?,?,?,?,?) "
               "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
    sqlite3_bind_int64(s, 1, key);
    BindText(s, 2, name);
    BindText(s, 3, RegistryFold(name));
    sqlite3_bind_int64(s, 4, type);
    sqlite3_bind_blob(s, 5, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    rc = sqlite3_step(s);
    if (rc != SQLITE_DONE)
        return Fail(rc, true);
    rc = tx.Commit();
    return rc == SQLITE_OK ? ERROR_SUCCESS : Fail(rc, true);
}

LONG RegistryHive::DeleteValue(int64_t key, std::string_view name) {
    std::lock_guard lock(Mutex_);
    Forget();
    LastError.clear();
    if (!Writable_)
        return ERROR_ACCESS_DENIED;
    Transaction tx(Db_);
    int rc = tx.Begin(true);
    if (rc != SQLITE_OK)
        return Fail(rc, true);
    LONG r = CheckKey(key);
    if (r != ERROR_SUCCESS)
        return r;
    FERRY_STMT(s, kDeleteValue, "DELETE FROM regvalue WHERE key=? AND fold=?");
    sqlite3_bind_int64(s, 1, key);
    BindText(s, 2, RegistryFold(name));
    rc = sqlite3_step(s);
    if (rc != SQLITE_DONE)
        return Fail(rc, true);
    if (sqlite3_changes(Db_) == 0)
        return ERROR_FILE_NOT_FOUND;
    rc = tx.Commit();
    return rc == SQLITE_OK ? ERROR_SUCCESS : Fail(rc, true);
}

LONG RegistryHive::DeleteKey(int64_t key, bool keepSelf, bool onlyIfLeaf) {
    std::lock_guard lock(Mutex_);
    Forget();
    LastError.clear();
    if (!Writable_)
        return ERROR_ACCESS_DENIED;
    if (key == RootId && !keepSelf)
        return ERROR_ACCESS_DENIED;
    KnownKeys_.clear(); // the key and any below it may be gone
    Transaction tx(Db_);
    int rc = tx.Begin(true);
    if (rc != SQLITE_OK)
        return Fail(rc, true);
    LONG r = CheckKey(key);
    if (r != ERROR_SUCCESS)
        return r;
    if (onlyIfLeaf) {
        FERRY_STMT(c, kCountKeys, "SELECT count(*) FROM regkey WHERE parent=?");
        sqlite3_bind_int64(c, 1, key);
        rc = sqlite3_step(c);
        if (rc != SQLITE_ROW)
            return Fail(rc, false);
        if (sqlite3_column_int64(c, 0) > 0)
            return ERROR_ACCESS_DENIED;
    }
    // Subkeys and values go with their key through the cascading references.
    if (keepSelf) {
        FERRY_STMT(k, kDeleteChildren, "DELETE FROM regkey WHERE parent=?");
        sqlite3_bind_int64(k, 1, key);
        if ((rc = sqlite3_step(k)) != SQLITE_DONE)
            return Fail(rc, true);
        FERRY_STMT(v, kDeleteValues, "DELETE FROM regvalue WHERE key=?");
        sqlite3_bind_int64(v, 1, key);
        if ((rc = sqlite3_step(v)) != SQLITE_DONE)
            return Fail(rc, true);
    } else {
        FERRY_STMT(k, kDeleteKey, "DELETE FROM regkey WHERE id=?");
        sqlite3_bind_int64(k, 1, key);
        if ((rc = sqlite3_step(k)) != SQLITE_DONE)
            return Fail(rc, true);
    }
    rc = tx.Commit();
    return rc == SQLITE_OK ? ERROR_SUCCESS : Fail(rc, true);
}

LONG RegistryHive::EnumKey(int64_t key, DWORD index, std::string& name) {
    std::lock_guard lock(Mutex_);
    LastError.clear();
    LONG r = CheckKey(key);
    if (r != ERROR_SUCCESS || !HasTables_)
        return r == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : r;
    FERRY_STMT(s, kEnumKey,
               "SELECT name FROM regkey WHERE parent=? ORDER BY fold, name LIMIT 1 OFFSET ?");
    sqlite3_bind_int64(s, 1, key);
    sqlite3_bind_int64(s, 2, index);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        name = ColumnBytes(s, 0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Fail(rc, false);
}

LONG RegistryHive::EnumValue(int64_t key, DWORD index, std::string& name, DWORD* type,
                             std::string* data) {
    std::lock_guard lock(Mutex_);
    LastError.clear();
    LONG r = CheckKey(key);
    if (r != ERROR_SUCCESS || !HasTables_)
        return r == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : r;
    FERRY_STMT(s, kEnumValue,
               "SELECT name, type, data FROM regvalue WHERE key=? ORDER BY rowid LIMIT 1 OFFSET ?");
    sqlite3_bind_int64(s, 1, key);
    sqlite3_bind_int64(s, 2, index);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        name = ColumnBytes(s, 0);
        if (type)
            *type = static_cast<DWORD>(sqlite3_column_int64(s, 1));
        if (data)
            *data = ColumnBytes(s, 2);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Fail(rc, false);
}

LONG RegistryHive::Info(int64_t key, DWORD* subKeys, DWORD* values) {
    std::lock_guard lock(Mutex_);
    LastError.clear();
    LONG r = CheckKey(key);
    if (r != ERROR_SUCCESS)
        return r;
    if (!HasTables_) {
        if (subKeys)
            *subKeys = 0;
        if (values)
            *values = 0;
        return ERROR_SUCCESS;
    }
    FERRY_STMT(k, kCountKeys, "SELECT count(*) FROM regkey WHERE parent=?");
    sqlite3_bind_int64(k, 1, key);
    int rc = sqlite3_step(k);
    if (rc != SQLITE_ROW)
        return Fail(rc, false);
    if (subKeys)
        *subKeys = static_cast<DWORD>(sqlite3_column_int64(k, 0));
    FERRY_STMT(v, kCountValues, "SELECT count(*) FROM regvalue WHERE key=?");
    sqlite3_bind_int64(v, 1, key);
    rc = sqlite3_step(v);
    if (rc != SQLITE_ROW)
        return Fail(rc, false);
    if (values)
        *values = static_cast<DWORD>(sqlite3_column_int64(v, 0));
    return ERROR_SUCCESS;
}

LONG RegistryHive::BeginTransaction() {
    std::lock_guard lock(Mutex_);
    Forget();
    LastError.clear();
    if (InTransaction_)
        return ERROR_SUCCESS;
    // Taking the write lock at once means the writes to come never meet a lock held by a
    // reader that wants to write too (which SQLite could only fail, not wait for).
    int rc = sqlite3_exec(Db_, Writable_ ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return Fail(rc, Writable_);
    InTransaction_ = true;
    KnownKeys_.clear();
    return ERROR_SUCCESS;
}

LONG RegistryHive::CommitTransaction() {
    std::lock_guard lock(Mutex_);
    Forget();
    LastError.clear();
    if (!InTransaction_)
        return ERROR_SUCCESS;
    InTransaction_ = false;
    KnownKeys_.clear();
    int rc = sqlite3_exec(Db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return ERROR_SUCCESS;
    LONG r = Fail(rc, true);
    if (!sqlite3_get_autocommit(Db_))
        sqlite3_exec(Db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return r;
}

void RegistryHive::RollbackTransaction() {
    std::lock_guard lock(Mutex_);
    Forget();
    if (!InTransaction_)
        return;
    InTransaction_ = false;
    KnownKeys_.clear();
    if (!sqlite3_get_autocommit(Db_))
        sqlite3_exec(Db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::string RegistryHive::IntegrityCheck() {
    std::lock_guard lock(Mutex_);
    std::string out;
    for (const char* sql : {"PRAGMA integrity_check", "PRAGMA foreign_key_check"}) {
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(Db_, sql, -1, &s, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(s);
            return sqlite3_errmsg(Db_);
        }
        bool foreignKeys = sql[7] == 'f';
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            std::string line;
            if (foreignKeys)
                line = "dangling reference in table " + ColumnBytes(s, 0);
            else
                line = ColumnBytes(s, 0);
            if (line != "ok")
                out += (out.empty() ? "" : "\n") + line;
        }
        if (rc != SQLITE_DONE)
            out += (out.empty() ? "" : "\n") + std::string(sqlite3_errmsg(Db_));
        sqlite3_finalize(s);
    }
    return out.empty() ? "ok" : out;
}

} // namespace ferry
