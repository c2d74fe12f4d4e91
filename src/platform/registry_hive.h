#pragma once

// One hive file: the keys and values under one root key, in a SQLite database. Used by the
// handle layer in registry.cpp; nothing else should need it.

#include "platform/registry.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ferry {

class RegistryHive {
public:
    static constexpr int64_t RootId = 1;
    static constexpr size_t MaxKeyNameLength = 255;
    static constexpr size_t MaxValueNameLength = 16383;
    static constexpr size_t MaxDepth = 512;

    // Opens the hive at path. With create, a missing directory and file are made; without,
    // a missing file gives ERROR_FILE_NOT_FOUND. On failure, error says why, naming the file.
    static LONG Open(const std::string& path, bool create, std::shared_ptr<RegistryHive>& hive,
                     std::string& error);
    // Whether another connection holds the file at path so that a write (a read, where this
    // user may only read) would wait now. Asks through a connection of its own, at once.
    static bool Busy(const std::string& path);
    ~RegistryHive();
    RegistryHive(const RegistryHive&) = delete;
    RegistryHive& operator=(const RegistryHive&) = delete;

    const std::string& Path() const { return Path_; }
    // Whether a connection kept for later use may still serve: the file at Path() is the one
    // it opened, and the user's rights to it are what they were.
    // Costs one look at a queue of change events while the file and the folders above it are
    // watched, and a look at the file itself only after something changed.
    bool StillCurrent();
    // False when the file or its directory may not be written by this process.
    bool Writable() const { return Writable_; }
    // False for an empty file opened read-only: someone may yet give it its tables, which this
    // connection would not notice, so it must not be kept.
    bool HasTables() const { return HasTables_; }

    // All of these lock the hive for their length and leave a text in LastError on failure.
    LONG KeyExists(int64_t id);
    LONG OpenPath(int64_t from, const std::vector<std::string>& parts, int64_t& id);
    LONG CreatePath(int64_t from, const std::vector<std::string>& parts, int64_t& id,
                    bool& created);
    LONG QueryValue(int64_t key, std::string_view name, DWORD& type, std::string& data);
    LONG SetValue(int64_t key, std::string_view name, DWORD type, std::string_view data);
    LONG DeleteValue(int64_t key, std::string_view name);
    // Deletes the key's values and subkeys, and the key itself unless keepSelf.
    // With onlyIfLeaf, a key with subkeys is refused.
    LONG DeleteKey(int64_t key, bool keepSelf, bool onlyIfLeaf);
    LONG EnumKey(int64_t key, DWORD index, std::string& name);
    LONG EnumValue(int64_t key, DWORD index, std::string& name, DWORD* type, std::string* data);
    std::string IntegrityCheck();

    // One long write transaction on this connection (a read transaction when the hive may not
    // be written): the operations above then run inside it instead of committing each.
    LONG BeginTransaction();
    LONG CommitTransaction();
    void RollbackTransaction();
    bool InTransaction() const { return InTransaction_; }

    std::string LastError;

private:
    RegistryHive() = default;
    LONG Prepare(); // verifies the file is a hive, creating the tables in an empty one
    void LeaveWal();
    bool LooksCurrent(); // StillCurrent, asking the file itself
    LONG Fail(int rc, bool writing);
    sqlite3_stmt* Statement(int slot, const char* sql);
    LONG Exec(const char* sql, bool writing);
    LONG FindChild(int64_t parent, std::string_view name, int64_t& id);
    LONG DepthOf(int64_t id, size_t& depth);
    // ERROR_KEY_DELETED when it is gone. With refreshed (Refresh() just ran in this operation), a
    // key seen since the file last changed is not looked up again.
    LONG CheckKey(int64_t id, bool refreshed = false);
    // Outside a long transaction: asks the file whether anyone committed since the last look,
    // and drops what was remembered if so (or if the header cannot be read).
    void Refresh();
    bool ReadHeader(uint32_t& counter); // false unless the header is a hive's
    void Forget(); // after a write of our own, which does not change data_version

    struct ValueKey {
        int64_t Key;
        std::string Fold;
        bool operator==(const ValueKey&) const = default;
    };
    struct ValueKeyHash {
        size_t operator()(const ValueKey& k) const {
            return std::hash<std::string>()(k.Fold) ^
                   (static_cast<size_t>(k.Key) * 0x9E3779B97F4A7C15ull);
        }
    };
    struct CachedValue {
        bool Present = false;
        DWORD Type = 0;
        std::string Data;
    };

    std::string Path_;
    sqlite3* Db_ = nullptr;
    bool Writable_ = false;
    bool HasTables_ = false; // false only for an empty hive opened read-only
    std::recursive_mutex Mutex_;
    std::vector<sqlite3_stmt*> Statements_;
    bool InTransaction_ = false;
    uint64_t Device_ = 0;
    uint64_t Inode_ = 0;
    // Changes to the file and the folders above it raise events (see hive_watch.h): the
    // answers below stand for as long as the event epoch they were found at.
    uint64_t Watched_ = 0;        // what hive_watch::Watch gave; 0 when not watched
    uint64_t CheckedEpoch_ = 0;   // StillCurrent's; 0 when it must look
    uint64_t RefreshedEpoch_ = 0; // the change counter's; 0 when it must be read
    // Keys seen to exist in the open transaction: nobody else can delete them before it ends.
    std::unordered_set<int64_t> KnownKeys_;
    // Outside transactions: what was read while the file's change counter was Counter_.
    bool Known_ = false;
    uint32_t Counter_ = 0;
    std::unordered_map<std::string, int64_t> Paths_; // "from\\fold\\fold" to key id
    std::string PathKey_;                            // OpenPath's look-up key, under Mutex_
    std::unordered_set<int64_t> LiveKeys_;
    std::unordered_map<ValueKey, CachedValue, ValueKeyHash> Values_;

    // The names (and values) of one key as the walk's first step read them, whole: the later
    // steps then cost one look-up each instead of a scan up to their index. Kept while
    // nothing could have changed them (Forget drops it).
    struct ListedValue {
        std::string Name;
        DWORD Type = 0;
        std::string Data;
    };
    struct Listing {
        bool Valid = false;
        bool OfValues = false;
        int64_t Key = 0;
        std::vector<std::string> Keys;
        std::vector<ListedValue> Values;
    };
    Listing Listing_;
    // Makes Listing_ the subkeys or the values of key, unless it already is and still stands.
    // A walk's first step (afresh) always reads the key from the file.
    LONG List(int64_t key, bool values, bool afresh);
};

// ASCII lower case, the form names are compared in.
std::string RegistryFold(std::string_view name);
// The same, appended to out.
void RegistryFoldAppend(std::string& out, std::string_view name);

} // namespace ferry
