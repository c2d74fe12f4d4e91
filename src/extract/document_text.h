#pragma once

// What reading a document gives: its text in labelled pieces, the word that it is not a
// document at all (its bytes are what counts), or why its text could not be read.

#include "core/conditions/text_piece.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ferry {

enum class TextStatus : uint8_t {
    Text = 0,         // a document: Pieces hold what a person reads (possibly nothing)
    NotADocument = 1, // a type without text of its own: match the bytes
    Unreadable = 2,   // a document whose text could not be had: Reason says why
};

enum class UnreadableReason : uint8_t {
    None = 0,
    Damaged = 1,
    Encrypted = 2,
    OverSizeBound = 3,
    OverMemoryBound = 4,
    HelperCrashed = 5,
    TimedOut = 6,
    HelperMissing = 7,
};

// The words the history shows after "text could not be read: ".
const char* UnreadableText(UnreadableReason reason);

struct DocumentText {
    TextStatus Status = TextStatus::NotADocument;
    UnreadableReason Reason = UnreadableReason::None;
    std::vector<TextPiece> Pieces;
    bool operator==(const DocumentText&) const = default;

    static DocumentText Failed(UnreadableReason reason) {
        DocumentText d;
        d.Status = TextStatus::Unreadable;
        d.Reason = reason;
        return d;
    }
};

} // namespace ferry
