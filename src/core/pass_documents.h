#pragma once

// The text of documents as a routing pass sees it. The engine reads documents only through
// this: the reader itself (a helper process and its cache) is the program's to hand in.

#include "core/conditions/text_piece.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ferry {

struct DocumentReading {
    enum class Status { Text, NotADocument, Unreadable };
    Status State = Status::NotADocument;
    std::vector<TextPiece> Pieces; // Text: what a person reads, in labelled pieces
    std::string Why;               // Unreadable: in a person's words ("the file is damaged")
};

class DocumentSource {
public:
    virtual ~DocumentSource() = default;
    // The text of the regular file open at `fd`, its offset left alone; `st` is what the
    // pass's own fstat of it said, which tells the version. Never raises: any trouble is an
    // Unreadable reading.
    virtual DocumentReading Read(int fd, const struct stat& st, bool ocr,
                                 const std::string& languages) = 0;
    // What was found before in this version of the document under `key` (a task's
    // conditions), and where; false when nothing is kept.
    virtual bool Recall(int fd, const struct stat& st, bool ocr, const std::string& languages,
                        const std::string& key, bool& holds, std::string& why) {
        return false;
    }
    virtual void Keep(int fd, const struct stat& st, bool ocr, const std::string& languages,
                      const std::string& key, bool holds, const std::string& why) {}
};

// Makes the reader of one pass, on the pass's thread, the first time a task needs one.
using DocumentSourceMaker = std::function<std::unique_ptr<DocumentSource>()>;

} // namespace ferry
