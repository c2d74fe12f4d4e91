// The values of a key: reading, writing, listing and deleting them.
#include "platform/registry_hive.h"
#include "platform/registry_hive_sql.h"

#include <sqlite3.h>

namespace ferry {

using namespace hive_sql;

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

LONG RegistryHive::EnumValue(int64_t key, DWORD index, std::string& name, DWORD* type,
                             std::string* data) {
    std::lock_guard lock(Mutex_);
    LastError.clear();
    LONG r = List(key, true, index == 0);
    if (r != ERROR_SUCCESS)
        return r;
    if (index >= Listing_.Values.size())
        return ERROR_NO_MORE_ITEMS;
    const ListedValue& v = Listing_.Values[index];
    name = v.Name;
    if (type)
        *type = v.Type;
    if (data)
        *data = v.Data;
    return ERROR_SUCCESS;
}

} // namespace ferry
