#include "platform/registry_hive.h"
#include "platform/hive_watch.h"
#include "platform/registry_hive_sql.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

using namespace hive_sql;

namespace {

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

} // namespace

std::string RegistryFold(std::string_view name) {
    std::string out;
    RegistryFoldAppend(out, name);
    return out;
}

void RegistryFoldAppend(std::string& out, std::string_view name) {
    const std::size_t at = out.size();
    out.resize(at + name.size());
    char* to = out.data() + at;
    for (const char c : name)
        *to++ = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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
    // Watched from here on; what was found before the watch began is looked at once more.
    hive->Watched_ = hive_watch::Watch(path);
    const uint64_t epoch = hive->Watched_ ? hive_watch::Epoch(hive->Watched_) : 0;
    struct stat opened;
    if (stat(path.c_str(), &opened) == 0) {
        hive->Device_ = opened.st_dev;
        hive->Inode_ = opened.st_ino;
    }
    if (hive->Watched_ && hive->LooksCurrent())
        hive->CheckedEpoch_ = epoch;
    out = std::move(hive);
    return ERROR_SUCCESS;
}

bool RegistryHive::Busy(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    sqlite3* db = nullptr;
    // No busy handler: a lock held elsewhere is reported at once instead of waited for. The
    // write lock is taken and given back with nothing written; a journal is never made.
    int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if ((rc & 0xff) == SQLITE_READONLY)
            rc = sqlite3_exec(db, "BEGIN; SELECT count(*) FROM sqlite_schema", nullptr, nullptr,
                              nullptr);
        if (!sqlite3_get_autocommit(db))
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_close_v2(db);
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

bool RegistryHive::StillCurrent() {
    // Nothing the answer depends on has changed since it was last found: it stands.
    const uint64_t epoch = Watched_ ? hive_watch::Epoch(Watched_) : 0;
    if (Watched_) {
        std::lock_guard lock(Mutex_);
        if (CheckedEpoch_ != 0 && epoch == CheckedEpoch_)
            return !InTransaction_;
    }
    if (!LooksCurrent())
        return false;
    if (Watched_) {
        std::lock_guard lock(Mutex_);
        CheckedEpoch_ = epoch;
    }
    return true;
}

bool RegistryHive::LooksCurrent() {
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

void RegistryHive::Refresh() {
    if (InTransaction_ || !HasTables_)
        return;
    // Nobody wrote the file since its counter was last read: the counter is what it was.
    const uint64_t epoch = Watched_ ? hive_watch::Epoch(Watched_) : 0;
    if (Watched_ && Known_ && RefreshedEpoch_ != 0 && epoch == RefreshedEpoch_)
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
    RefreshedEpoch_ = epoch;
}

void RegistryHive::Forget() {
    Known_ = false;
    RefreshedEpoch_ = 0;
    Paths_.clear();
    LiveKeys_.clear();
    Values_.clear();
    Listing_ = Listing();
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
    struct Check {
        const char* Sql;
        bool ForeignKeys; // rows name a table with a dangling reference, not a message
    };
    for (const Check& check :
         {Check{"PRAGMA integrity_check", false}, Check{"PRAGMA foreign_key_check", true}}) {
        const char* sql = check.Sql;
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(Db_, sql, -1, &s, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(s);
            return sqlite3_errmsg(Db_);
        }
        const bool foreignKeys = check.ForeignKeys;
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
