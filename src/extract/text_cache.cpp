#include "extract/text_cache.h"

#include "extract/wire_format.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

namespace {

// Makes a folder and any missing parents, the new ones 0700.
bool MakeFolders(const std::string& dir) {
    for (std::size_t at = 1; at <= dir.size(); ++at) {
        if (at < dir.size() && dir[at] != '/')
            continue;
        const std::string part = dir.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

int64_t Nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// One prepared statement for one call; finalised however the call leaves.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &S_, nullptr) != SQLITE_OK)
            S_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(S_); }
    sqlite3_stmt* operator*() const { return S_; }
    explicit operator bool() const { return S_ != nullptr; }

private:
    sqlite3_stmt* S_ = nullptr;
};

void BindIdentity(sqlite3_stmt* s, const FileIdentity& id, const std::string& mode) {
    sqlite3_bind_int64(s, 1, static_cast<int64_t>(id.Device));
    sqlite3_bind_int64(s, 2, static_cast<int64_t>(id.Inode));
    sqlite3_bind_text(s, 3, mode.data(), static_cast<int>(mode.size()), SQLITE_TRANSIENT);
}

// A connection left by a TextCache for the next one to the same store.
struct KeptConnection {
    sqlite3* Db = nullptr;
    sqlite3_stmt* Get = nullptr;
    sqlite3_stmt* GetMatch = nullptr;
    uint64_t Device = 0, Inode = 0;
    pid_t Owner = 0; // a child made by fork() leaves its parent's connections alone
};

std::mutex gKeptLock;
// Never destroyed: a connection may be left during exit.
std::multimap<std::string, KeptConnection>& KeptConnections() {
    static auto* kept = new std::multimap<std::string, KeptConnection>();
    return *kept;
}

// One for each pass that can run at once (a pass and a preview): more are closed.
constexpr std::size_t kKeptPerStore = 2;

} // namespace

bool FileIdentity::Of(int fd, FileIdentity& out) {
    struct stat st {};
    return fstat(fd, &st) == 0 && Of(st, out);
}

bool FileIdentity::Of(const struct stat& st, FileIdentity& out) {
    if (!S_ISREG(st.st_mode))
        return false;
    out.Device = st.st_dev;
    out.Inode = st.st_ino;
    out.Size = st.st_size;
    out.ModifiedNs = Nanoseconds(st.st_mtim);
    out.ChangedNs = Nanoseconds(st.st_ctim);
    return true;
}

std::string TextCache::DefaultPath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0])
        base = std::string(home) + "/.cache";
    else
        return "";
    return base + "/ferrydesk/document-text.sqlite";
}

TextCache::TextCache(std::string path, int64_t maxBytes)
    : Path_(std::move(path)), MaxBytes_(maxBytes) {
    if (TakeKept())
        return;
    if (!Open()) {
        // A store that cannot be opened or read is only a cache: it is started again.
        Close();
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            unlink((Path_ + suffix).c_str());
        if (!Open())
            Close();
    }
}

TextCache::~TextCache() {
    Close(true);
}

bool TextCache::TakeKept() {
    KeptConnection kept;
    {
        std::lock_guard lock(gKeptLock);
        auto& all = KeptConnections();
        auto it = all.find(Path_);
        if (it == all.end())
            return false;
        kept = it->second;
        all.erase(it);
    }
    // The store's file is still the one it opened (not removed or replaced, as clearing the
    // cache does), and the connection is this process's own.
    struct stat now {};
    if (kept.Owner != getpid())
        return false;
    if (stat(Path_.c_str(), &now) != 0 || static_cast<uint64_t>(now.st_dev) != kept.Device ||
        static_cast<uint64_t>(now.st_ino) != kept.Inode) {
        sqlite3_finalize(kept.Get);
        sqlite3_finalize(kept.GetMatch);
        sqlite3_close_v2(kept.Db);
        return false;
    }
    Db_ = kept.Db;
    Get_ = kept.Get;
    GetMatch_ = kept.GetMatch;
    FileDevice_ = kept.Device;
    FileInode_ = kept.Inode;
    return true;
}

void TextCache::Close(bool keep) {
    EndRead();
    if (keep && Db_ && Get_ && GetMatch_ && FileInode_ != 0 && sqlite3_get_autocommit(Db_)) {
        sqlite3_reset(Get_);
        sqlite3_reset(GetMatch_);
        std::lock_guard lock(gKeptLock);
        auto& all = KeptConnections();
        if (all.count(Path_) < kKeptPerStore) {
            all.emplace(Path_,
                        KeptConnection{Db_, Get_, GetMatch_, FileDevice_, FileInode_, getpid()});
            Db_ = nullptr;
            Get_ = GetMatch_ = nullptr;
            return;
        }
    }
    sqlite3_finalize(Get_);
    sqlite3_finalize(GetMatch_);
    Get_ = GetMatch_ = nullptr;
    if (Db_)
        sqlite3_close_v2(Db_);
    Db_ = nullptr;
}

bool TextCache::Open() {
    const std::size_t slash = Path_.rfind('/');
    if (Path_.empty() || slash == std::string::npos)
        return false;
    const std::string dir = Path_.substr(0, slash);
    if (!MakeFolders(dir))
        return false;
    // The folder holds what the user's documents say: theirs alone, even if made before.
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0 && st.st_uid == getuid() && (st.st_mode & 0777) != 0700)
        chmod(dir.c_str(), 0700);
    if (sqlite3_open_v2(Path_.c_str(), &Db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        return false;
    struct stat file {};
    if (stat(Path_.c_str(), &file) == 0) {
        FileDevice_ = static_cast<uint64_t>(file.st_dev);
        FileInode_ = static_cast<uint64_t>(file.st_ino);
    }
    sqlite3_busy_timeout(Db_, 2000);
    // A store already made as this version asks only for its per-connection setting: the
    // tables' set-up is parsed and checked against the schema at every pass otherwise, which
    // costs a warm pass a third of its time.
    constexpr int kVersion = 2;
    int version = 0;
    sqlite3_stmt* ask = nullptr;
    if (sqlite3_prepare_v2(Db_, "PRAGMA user_version", -1, &ask, nullptr) == SQLITE_OK &&
        sqlite3_step(ask) == SQLITE_ROW)
        version = sqlite3_column_int(ask, 0);
    sqlite3_finalize(ask);
    // Large pages hold a document's text on one page: a warm pass reads every text it
    // matches, a page at a time. (The page size counts only when the store is made; the
    // rowid table keeps a text in its row's page, which an index's rows could not. Mapping
    // the file instead would cost a page fault per 4 KiB, dearer than the copy.)
    const char* setup = "PRAGMA page_size=65536;"
                        "PRAGMA journal_mode=WAL;"
                        "PRAGMA synchronous=NORMAL;"
                        "CREATE TABLE IF NOT EXISTS text("
                        " dev INTEGER NOT NULL, ino INTEGER NOT NULL, mode TEXT NOT NULL,"
                        " size INTEGER NOT NULL, mtime INTEGER NOT NULL, ctime INTEGER NOT NULL,"
                        " added INTEGER NOT NULL, bytes INTEGER NOT NULL, body BLOB NOT NULL);"
                        "CREATE UNIQUE INDEX IF NOT EXISTS text_file ON text(dev, ino, mode);"
                        // counting and dropping read this index, not the texts
                        "CREATE INDEX IF NOT EXISTS text_age ON text(added, bytes);"
                        // Outcomes in pattern order, so that a pass reads a task's at once; an
                        // older store's table in file order is only dropped.
                        "DROP TABLE IF EXISTS matched;"
                        "CREATE TABLE IF NOT EXISTS outcome("
                        " pattern BLOB NOT NULL, mode TEXT NOT NULL, dev INTEGER NOT NULL,"
                        " ino INTEGER NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL,"
                        " ctime INTEGER NOT NULL, found INTEGER NOT NULL, label TEXT NOT NULL,"
                        " PRIMARY KEY(pattern, mode, dev, ino)) WITHOUT ROWID;"
                        "CREATE INDEX IF NOT EXISTS outcome_file ON outcome(dev, ino, mode);"
                        "PRAGMA user_version=2;";
    static_assert(kVersion == 2, "the set-up above ends by writing kVersion");
    if (sqlite3_exec(Db_, version == kVersion ? "PRAGMA synchronous=NORMAL;" : setup, nullptr,
                     nullptr, nullptr) != SQLITE_OK)
        return false;
    return sqlite3_prepare_v2(Db_,
                              "SELECT size, mtime, ctime, body FROM text"
                              " WHERE dev=? AND ino=? AND mode=?",
                              -1, &Get_, nullptr) == SQLITE_OK &&
           sqlite3_prepare_v2(Db_,
                              "SELECT size, mtime, ctime, found, label FROM outcome"
                              " WHERE dev=? AND ino=? AND mode=? AND pattern=?",
                              -1, &GetMatch_, nullptr) == SQLITE_OK;
}

void TextCache::ShareReads(bool on) {
    ShareReads_ = on;
    if (!on) {
        EndRead();
        Outcomes_.clear();
        Last_ = nullptr;
    }
}

void TextCache::BeginRead() {
    // Bounded, so that a long pass neither pins the store's log nor misses for long what
    // another copy of the program stored meanwhile.
    constexpr auto longest = std::chrono::milliseconds(250);
    if (!ShareReads_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (Reading_ && now - ReadSince_ > longest)
        EndRead();
    if (Reading_ || !sqlite3_get_autocommit(Db_))
        return;
    // The read itself begins with the first look-up and lasts until the end.
    if (sqlite3_exec(Db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK) {
        Reading_ = true;
        ReadSince_ = now;
    }
}

void TextCache::EndRead() {
    if (!Reading_)
        return;
    Reading_ = false;
    if (sqlite3_exec(Db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        sqlite3_exec(Db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool TextCache::Get(const FileIdentity& id, const std::string& mode, DocumentText& out) {
    if (!Db_)
        return false;
    BeginRead();
    sqlite3_stmt* s = Get_;
    BindIdentity(s, id, mode);
    bool found = false;
    if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int64(s, 0) == id.Size &&
        sqlite3_column_int64(s, 1) == id.ModifiedNs && sqlite3_column_int64(s, 2) == id.ChangedNs) {
        const auto* body = static_cast<const char*>(sqlite3_column_blob(s, 3));
        const int n = sqlite3_column_bytes(s, 3);
        found = DecodeText(std::string_view(body ? body : "", static_cast<std::size_t>(n)), out);
    }
    sqlite3_reset(s);
    return found;
}

void TextCache::Put(const FileIdentity& id, const std::string& mode, const DocumentText& text) {
    if (!Db_)
        return;
    const std::string body = EncodeText(text);
    const auto bytes = static_cast<int64_t>(body.size());
    if (bytes > MaxBytes_)
        return;
    // A write from a read begun on an older state of the store would be refused.
    EndRead();
    const int64_t added = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    Statement forget(Db_, "DELETE FROM outcome WHERE dev=? AND ino=? AND mode=?");
    if (!forget)
        return;
    BindIdentity(*forget, id, mode);
    sqlite3_step(*forget);
    Forget(id, mode);
    Statement s(Db_, "INSERT OR REPLACE INTO text(dev, ino, mode, size, mtime, ctime, added, "
                     "bytes, body) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s)
        return;
    BindIdentity(*s, id, mode);
    sqlite3_bind_int64(*s, 4, id.Size);
    sqlite3_bind_int64(*s, 5, id.ModifiedNs);
    sqlite3_bind_int64(*s, 6, id.ChangedNs);
    sqlite3_bind_int64(*s, 7, added);
    sqlite3_bind_int64(*s, 8, bytes);
    sqlite3_bind_blob(*s, 9, body.data(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(*s) != SQLITE_DONE)
        return;
    // The total is counted at the first addition, not at opening: counting reads every page,
    // and a pass that finds every text stored adds nothing.
    if (Stored_ < 0)
        Stored_ = StoredBytes();
    else
        Stored_ += bytes; // a replaced row is counted again until the next drop recounts
    if (Stored_ > MaxBytes_)
        DropOldest();
}

void TextCache::DropOldest() {
    // Rows go oldest first until the store is under nine tenths of its bound, so that a pass
    // adding one file after another does not drop a row for each.
    const int64_t target = MaxBytes_ / 10 * 9;
    Statement sum(Db_, "SELECT COALESCE(SUM(bytes), 0) FROM text");
    if (!sum || sqlite3_step(*sum) != SQLITE_ROW)
        return;
    const int64_t total = sqlite3_column_int64(*sum, 0);
    Statement cut(Db_, "SELECT added FROM (SELECT added, SUM(bytes) OVER (ORDER BY added DESC)"
                       " AS kept FROM text) WHERE kept > ? ORDER BY added DESC LIMIT 1");
    if (!cut)
        return;
    sqlite3_bind_int64(*cut, 1, target);
    if (total > target && sqlite3_step(*cut) == SQLITE_ROW) {
        const int64_t from = sqlite3_column_int64(*cut, 0);
        Statement del(Db_, "DELETE FROM text WHERE added <= ?");
        if (del) {
            sqlite3_bind_int64(*del, 1, from);
            sqlite3_step(*del);
        }
    }
    // outcomes whose text has gone go with it
    sqlite3_exec(Db_,
                 "DELETE FROM outcome WHERE NOT EXISTS (SELECT 1 FROM text t WHERE"
                 " t.dev = outcome.dev AND t.ino = outcome.ino AND t.mode = outcome.mode)",
                 nullptr, nullptr, nullptr);
    Outcomes_.clear();
    Last_ = nullptr;
    Statement again(Db_, "SELECT COALESCE(SUM(bytes), 0) FROM text");
    if (again && sqlite3_step(*again) == SQLITE_ROW)
        Stored_ = sqlite3_column_int64(*again, 0);
}

bool TextCache::GetMatch(const FileIdentity& id, const std::string& mode,
                         const std::string& pattern, bool& found, std::string& label) {
    if (!Db_)
        return false;
    BeginRead();
    if (ShareReads_) {
        KeptFiles* kept = Outcomes(mode, pattern);
        if (kept) {
            const auto at = kept->find({id.Device, id.Inode});
            if (at == kept->end() || at->second.Size != id.Size ||
                at->second.ModifiedNs != id.ModifiedNs || at->second.ChangedNs != id.ChangedNs)
                return false;
            found = at->second.Found;
            label = at->second.Label;
            return true;
        }
    }
    sqlite3_stmt* s = GetMatch_;
    BindIdentity(s, id, mode);
    sqlite3_bind_blob(s, 4, pattern.data(), static_cast<int>(pattern.size()), SQLITE_STATIC);
    bool hit = false;
    if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int64(s, 0) == id.Size &&
        sqlite3_column_int64(s, 1) == id.ModifiedNs && sqlite3_column_int64(s, 2) == id.ChangedNs) {
        found = sqlite3_column_int(s, 3) != 0;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 4));
        label = text ? text : "";
        hit = true;
    }
    sqlite3_reset(s);
    return hit;
}

void TextCache::PutMatch(const FileIdentity& id, const std::string& mode,
                         const std::string& pattern, bool found, const std::string& label) {
    if (!Db_)
        return;
    EndRead();
    const auto loaded = Outcomes_.find({mode, pattern});
    if (loaded != Outcomes_.end())
        loaded->second[{id.Device, id.Inode}] =
            Kept{id.Size, id.ModifiedNs, id.ChangedNs, found, label};
    Statement s(Db_, "INSERT OR REPLACE INTO outcome(dev, ino, mode, pattern, size, mtime, ctime,"
                     " found, label) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s)
        return;
    BindIdentity(*s, id, mode);
    sqlite3_bind_blob(*s, 4, pattern.data(), static_cast<int>(pattern.size()), SQLITE_STATIC);
    sqlite3_bind_int64(*s, 5, id.Size);
    sqlite3_bind_int64(*s, 6, id.ModifiedNs);
    sqlite3_bind_int64(*s, 7, id.ChangedNs);
    sqlite3_bind_int(*s, 8, found ? 1 : 0);
    sqlite3_bind_text(*s, 9, label.data(), static_cast<int>(label.size()), SQLITE_STATIC);
    sqlite3_step(*s);
}

TextCache::KeptFiles* TextCache::Outcomes(const std::string& mode, const std::string& pattern) {
    // A pass asks under one pattern file after file.
    if (Last_ && Last_->first.first == mode && Last_->first.second == pattern)
        return &Last_->second;
    const auto key = std::make_pair(mode, pattern);
    if (const auto at = Outcomes_.find(key); at != Outcomes_.end()) {
        Last_ = &*at;
        return &at->second;
    }
    Statement s(Db_, "SELECT dev, ino, size, mtime, ctime, found, label FROM outcome"
                     " WHERE pattern=? AND mode=?");
    if (!s)
        return nullptr;
    sqlite3_bind_blob(*s, 1, pattern.data(), static_cast<int>(pattern.size()), SQLITE_STATIC);
    sqlite3_bind_text(*s, 2, mode.data(), static_cast<int>(mode.size()), SQLITE_STATIC);
    KeptFiles files;
    int step;
    while ((step = sqlite3_step(*s)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(*s, 6));
        files[{static_cast<uint64_t>(sqlite3_column_int64(*s, 0)),
               static_cast<uint64_t>(sqlite3_column_int64(*s, 1))}] =
            Kept{sqlite3_column_int64(*s, 2), sqlite3_column_int64(*s, 3),
                 sqlite3_column_int64(*s, 4), sqlite3_column_int(*s, 5) != 0, text ? text : ""};
    }
    if (step != SQLITE_DONE)
        return nullptr; // busy or damaged: asked file by file instead
    Last_ = &*Outcomes_.emplace(key, std::move(files)).first;
    return &Last_->second;
}

void TextCache::Forget(const FileIdentity& id, const std::string& mode) {
    for (auto& [key, files] : Outcomes_)
        if (key.first == mode)
            files.erase({id.Device, id.Inode});
}

int64_t TextCache::StoredBytes() {
    if (!Db_)
        return 0;
    Statement sum(Db_, "SELECT COALESCE(SUM(bytes), 0) FROM text");
    if (!sum || sqlite3_step(*sum) != SQLITE_ROW)
        return 0;
    return sqlite3_column_int64(*sum, 0);
}

} // namespace ferry
