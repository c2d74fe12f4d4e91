#pragma once

// The one entry point for reading what a person sees in a document: a stage of the routing
// pass hands it an open file and gets the file's text in labelled pieces, the word that the
// file is no document (its bytes count), or why its text could not be read. Text comes from
// the cache when this version of the file was read before, else from the helper process,
// which stays up between files. Not for use by two threads at once: one reader per thread.

#include "extract/document_kind.h"
#include "extract/document_text.h"
#include "extract/text_match.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace ferry {

class ExtractHelper;
class TextCache;

// What a task asks to be read.
struct LookInOptions {
    bool Ocr = false;      // scanned pages and images too
    std::string Languages; // OCR languages, "eng+deu"; "" lets the helper choose
};

struct DocumentReaderConfig {
    std::string HelperProgram = "@find"; // "@find": FindExtractHelper()
    std::string CachePath = "@default";  // "@default": TextCache::DefaultPath(); "": none
    int64_t CacheBytes = 256ll << 20;
    // Look-ups share one read of the cache (TextCache::ShareReads): for a reader that lives
    // for one pass, not for one that may sit idle.
    bool ShareCacheReads = false;
    // Wall-clock bounds for one file; past them the helper is killed.
    std::chrono::milliseconds Wall{60000};
    std::chrono::milliseconds OcrWall{600000};
};

class DocumentReader {
public:
    explicit DocumentReader(DocumentReaderConfig config = {});
    ~DocumentReader();
    DocumentReader(const DocumentReader&) = delete;
    DocumentReader& operator=(const DocumentReader&) = delete;

    // The text of the regular file open at `fd`; its offset is left alone. `known`, when
    // given, is the caller's fstat of `fd`, which tells the file's version without another.
    DocumentText Read(int fd, const LookInOptions& options, const struct stat* known = nullptr);
    // Whether the task's pattern is in the text of the file open at `fd`: what the "read and
    // match" stage asks. Status NotADocument means the bytes are to be matched instead;
    // Unreadable gives the reason. An unchanged file matched before against the same pattern
    // is answered from the cache without its text being read.
    struct Look {
        TextStatus Status = TextStatus::NotADocument;
        UnreadableReason Reason = UnreadableReason::None;
        bool Found = false;
        std::string Label; // the piece it was found in ("PDF text, page 2")
    };
    Look Find(int fd, const LookInOptions& options, const TextPattern& pattern);

    // What a caller found before in this version of the file under its own `key` (a match of
    // its conditions): a warm pass with unchanged tasks reads no text at all. False when
    // nothing is kept.
    bool RecallMatch(int fd, const LookInOptions& options, const std::string& key, bool& found,
                     std::string& label, const struct stat* known = nullptr);
    void KeepMatch(int fd, const LookInOptions& options, const std::string& key, bool found,
                   const std::string& label, const struct stat* known = nullptr);

    // The same for a file by name (opened read-only here).
    DocumentText ReadFile(const std::string& path, const LookInOptions& options);

    // Counters for tests and benchmarks.
    struct Counts {
        long CacheHits = 0; // texts taken from the cache
        long MatchHits = 0; // outcomes of Find taken from the cache
        long HelperReads = 0;
    };
    const Counts& GetCounts() const { return Counts_; }
    pid_t HelperPid() const;

private:
    // The cache row's mode for the file; false when its first bytes cannot be read.
    bool ModeFor(int fd, const LookInOptions& options, std::string& mode, DocumentKind& kind);

    DocumentReaderConfig Config_;
    std::unique_ptr<ExtractHelper> Helper_;
    std::unique_ptr<TextCache> Cache_;
    Counts Counts_;
};

// Where a task's match string was found in a file's text.
struct DocumentMatch {
    bool Found = false;
    std::string Label; // the piece's label, for the history ("PDF text, page 2")
};

DocumentMatch MatchDocument(const DocumentText& text, const TextPattern& pattern);

} // namespace ferry
