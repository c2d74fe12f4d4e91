#pragma once

// Pieces shared by the files of the registry hive: the cached statements' slots, the guard
// that resets a statement after use, column and binding helpers, and the one-operation
// transaction. Not for use outside platform/registry_hive*.cpp.

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace ferry::hive_sql {

// 'FDRG' in the file header tells our hives apart from other SQLite databases.
constexpr int kApplicationId = 0x46445247;
constexpr int kFormatVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

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

inline void BindText(sqlite3_stmt* s, int i, std::string_view t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}

inline std::string ColumnBytes(sqlite3_stmt* s, int i) {
    const void* p = sqlite3_column_blob(s, i);
    int n = sqlite3_column_bytes(s, i);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
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

} // namespace ferry::hive_sql

// A cached statement for the operation, reset when it ends; a statement that cannot be
// prepared ends the operation with the hive's error.
#define FERRY_STMT(var, slot, sql)                                                                 \
    sqlite3_stmt* var = Statement(slot, sql);                                                      \
    if (!var)                                                                                      \
        return Fail(sqlite3_errcode(Db_), false);                                                  \
    hive_sql::Use var##_use{var};
