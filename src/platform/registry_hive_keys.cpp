// The keys of a hive: finding, creating, listing and deleting them.
#include "platform/registry_hive.h"
#include "platform/registry_hive_sql.h"

#include <sqlite3.h>

namespace ferry {

using namespace hive_sql;

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
    std::string& path = PathKey_; // kept, so that a key asked for again costs no allocation
    if (remember) {
        path = std::to_string(from);
        for (const std::string& part : parts) {
            path += '\\';
            RegistryFoldAppend(path, part);
        }
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
        Paths_.emplace(path, cur);
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
    LONG r = List(key, false, index == 0);
    if (r != ERROR_SUCCESS)
        return r;
    if (index >= Listing_.Keys.size())
        return ERROR_NO_MORE_ITEMS;
    name = Listing_.Keys[index];
    return ERROR_SUCCESS;
}

LONG RegistryHive::List(int64_t key, bool values, bool afresh) {
    // Outside a transaction the file says whether anyone wrote since the listing was read;
    // inside one nobody else can, and our own writes forget it.
    Refresh();
    const bool keep = InTransaction_ || Known_;
    if (!afresh && keep && Listing_.Valid && Listing_.Key == key && Listing_.OfValues == values)
        return ERROR_SUCCESS;
    Listing_ = Listing();
    LONG r = CheckKey(key, true);
    if (r != ERROR_SUCCESS || !HasTables_)
        return r;
    Listing fresh;
    fresh.Key = key;
    fresh.OfValues = values;
    int rc;
    {
        // Room for the whole listing at once: no copying while it grows.
        FERRY_STMT(c, values ? kCountValues : kCountKeys,
                   values ? "SELECT count(*) FROM regvalue WHERE key=?"
                          : "SELECT count(*) FROM regkey WHERE parent=?");
        sqlite3_bind_int64(c, 1, key);
        if ((rc = sqlite3_step(c)) != SQLITE_ROW)
            return Fail(rc, false);
        const auto count = static_cast<size_t>(sqlite3_column_int64(c, 0));
        if (values)
            fresh.Values.reserve(count);
        else
            fresh.Keys.reserve(count);
    }
    if (values) {
        FERRY_STMT(s, kEnumValue,
                   "SELECT name, type, data FROM regvalue WHERE key=? ORDER BY rowid");
        sqlite3_bind_int64(s, 1, key);
        while ((rc = sqlite3_step(s)) == SQLITE_ROW)
            fresh.Values.push_back({ColumnBytes(s, 0),
                                    static_cast<DWORD>(sqlite3_column_int64(s, 1)),
                                    ColumnBytes(s, 2)});
    } else {
        FERRY_STMT(s, kEnumKey, "SELECT name FROM regkey WHERE parent=? ORDER BY fold, name");
        sqlite3_bind_int64(s, 1, key);
        while ((rc = sqlite3_step(s)) == SQLITE_ROW)
            fresh.Keys.push_back(ColumnBytes(s, 0));
    }
    if (rc != SQLITE_DONE)
        return Fail(rc, false);
    fresh.Valid = keep;
    Listing_ = std::move(fresh);
    return ERROR_SUCCESS;
}

} // namespace ferry
