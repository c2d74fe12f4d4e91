#pragma once

// One literal searched for in blocks of text exactly as the content matcher searches a
// task's match string: byte for byte, or without regard to case by the code page's upper
// case (8-bit) or Unicode's simple case folding (UTF-8). The fast searches of the content
// matcher do the work.

#include "core/byte_search.h"
#include "core/conditions/text_reader.h"
#include "core/fold_search.h"
#include "core/multibyte_search.h"

#include <cstddef>
#include <memory>
#include <string>

namespace ferry {

class LiteralSearch {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // `reader` must outlive the search.
    LiteralSearch(const std::string& bytes, const TextReader& reader, bool caseSensitive);

    // Empty, or holding a NUL: text is matched within its NUL-delimited pieces, so never found.
    bool Never() const { return Never_; }
    // The most bytes an occurrence can take.
    std::size_t MaxLength() const;
    // How many bytes a block must repeat of the one before so that FindIn misses nothing.
    std::size_t Overlap() const;

    // The first occurrence in data[0, size) that starts at `from` or later (a character
    // boundary). `atStart` and `atEnd`: the data begins or ends the text; otherwise
    // occurrences that the previous or next block decides are left to it.
    std::size_t FindIn(const unsigned char* data, std::size_t size, std::size_t from, bool atStart,
                       bool atEnd) const;

    // The byte length of the occurrence that starts at data[at], or 0 when none does. Data
    // that ends before this is decided counts as not matching.
    std::size_t LengthAt(const unsigned char* data, std::size_t size, std::size_t at) const;

private:
    std::size_t MultiByteLengthAt(const unsigned char* data, std::size_t left) const;

    std::string Bytes_;
    const TextReader& Reader_;
    bool CaseSensitive_;
    bool Never_;
    std::unique_ptr<BytePattern> Plain_;
    std::unique_ptr<Utf8FoldPattern> Folded_;
    std::unique_ptr<MultiBytePattern> Multi_;
};

} // namespace ferry
