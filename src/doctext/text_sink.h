#pragma once

// Where the readers of each document type put the text they find, piece by piece, and how
// they say that a file cannot be read. The sink bounds the text taken from one file: past
// the bound the file is over the size bound, however small it was on disk.

#include "extract/document_text.h"

#include <cstddef>
#include <exception>
#include <string>

namespace ferry {

class ReadFailure : public std::exception {
public:
    explicit ReadFailure(UnreadableReason reason) : Reason(reason) {}
    const char* what() const noexcept override { return UnreadableText(Reason); }
    UnreadableReason Reason;
};

// Most text taken from one file, and most bytes a file may expand to (zip parts, streams).
constexpr std::size_t MaxTextBytes = 16u << 20;
constexpr std::size_t MaxExpandedBytes = 128u << 20;

class TextSink {
public:
    explicit TextSink(std::size_t maxBytes = MaxTextBytes) : Max_(maxBytes) {}

    // Adds a piece; throws ReadFailure(OverSizeBound) past the bound.
    void Add(std::string label, std::string text);
    // Room left before the bound.
    std::size_t Left() const { return Max_ - Used_; }
    DocumentText Take();

private:
    std::size_t Max_;
    std::size_t Used_ = 0;
    DocumentText Text_{TextStatus::Text, UnreadableReason::None, {}};
};

// Appends to a text under construction, failing the file when it grows past `limit`.
inline void AppendBounded(std::string& to, const char* data, std::size_t n, std::size_t limit) {
    if (to.size() + n > limit)
        throw ReadFailure(UnreadableReason::OverSizeBound);
    to.append(data, n);
}

} // namespace ferry
