#pragma once

// Extracted text kept between passes, so that each version of a document is read once. A
// file is known by its identity (device, inode, size, modification and change times): a
// changed file misses and is read again, and its new text replaces the old row. The store
// is bounded in size; the rows added longest ago go first. Any trouble with the store only
// costs a reading: a damaged store is made afresh, a busy one is passed by.

#include "extract/document_text.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace ferry {

struct FileIdentity {
    uint64_t Device = 0, Inode = 0;
    int64_t Size = 0, ModifiedNs = 0, ChangedNs = 0;
    // The identity of the file open at `fd`; false when it is not a regular file.
    static bool Of(int fd, FileIdentity& out);
    // The same from what a stat of the file said.
    static bool Of(const struct stat& st, FileIdentity& out);
};

class TextCache {
public:
    // ${XDG_CACHE_HOME:-~/.cache}/ferrydesk/document-text.sqlite (an XDG_CACHE_HOME that is
    // not absolute is ignored, as the base directory rules say).
    static std::string DefaultPath();

    // Opens (or creates) the store at `path`; its folder is made 0700. A connection to the
    // same store that an earlier TextCache of this process left is taken over while the path
    // still names that file: a program that runs a pass every few minutes finds its store
    // open, with its pages read, instead of opening it afresh for each pass.
    TextCache(std::string path, int64_t maxBytes);
    ~TextCache();
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;

    bool IsOpen() const { return Db_ != nullptr; }
    // Look-ups made one after another (a pass over a folder) share one read of the store
    // instead of locking it for each; the read ends before anything is written, after a
    // short while, and with the store. The outcomes kept under a pattern are then read all
    // at once, at its first look-up, and kept while sharing lasts: an outcome holds for its
    // version of the file whatever else is written meanwhile. Off by default: an idle owner would
    // pin an old snapshot and keep the store's log from being folded back.
    void ShareReads(bool on);
    // `mode` tells apart readings of one file that differ ("text", "ocr:eng+deu").
    bool Get(const FileIdentity& id, const std::string& mode, DocumentText& out);
    void Put(const FileIdentity& id, const std::string& mode, const DocumentText& text);
    // Whether a pattern (TextPattern::Key) was found in a version of a file, and in which
    // piece: a warm pass with unchanged tasks reads no text at all. Outcomes go with the text
    // they were found in, when it is replaced or dropped.
    bool GetMatch(const FileIdentity& id, const std::string& mode, const std::string& pattern,
                  bool& found, std::string& label);
    void PutMatch(const FileIdentity& id, const std::string& mode, const std::string& pattern,
                  bool found, const std::string& label);
    // Bytes of stored text, as the store counts them.
    int64_t StoredBytes();

private:
    bool Open();
    bool TakeKept();
    void Close(bool keep = false);
    void DropOldest();
    void BeginRead();
    void EndRead();
    struct Kept {
        int64_t Size = 0, ModifiedNs = 0, ChangedNs = 0;
        bool Found = false;
        std::string Label;
    };
    struct FileKeyHash {
        std::size_t operator()(const std::pair<uint64_t, uint64_t>& k) const {
            return std::hash<uint64_t>()(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
        }
    };
    using KeptFiles = std::unordered_map<std::pair<uint64_t, uint64_t>, Kept, FileKeyHash>;
    // The outcomes under (mode, pattern), read at once.
    KeptFiles* Outcomes(const std::string& mode, const std::string& pattern);
    void Forget(const FileIdentity& id, const std::string& mode);

    std::string Path_;
    int64_t MaxBytes_;
    sqlite3* Db_ = nullptr;
    sqlite3_stmt* Get_ = nullptr; // prepared once: a warm pass asks for every file
    sqlite3_stmt* GetMatch_ = nullptr;
    uint64_t FileDevice_ = 0, FileInode_ = 0; // of the store's file when it was opened
    int64_t Stored_ = -1;                     // not counted yet
    bool ShareReads_ = false;
    bool Reading_ = false; // a shared read is open
    std::chrono::steady_clock::time_point ReadSince_;
    std::map<std::pair<std::string, std::string>, KeptFiles> Outcomes_; // while sharing reads
    std::pair<const std::pair<std::string, std::string>, KeptFiles>* Last_ = nullptr;
};

} // namespace ferry
