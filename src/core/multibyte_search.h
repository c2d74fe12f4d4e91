#pragma once

// The content matcher's search in the multi-byte code pages of East Asia.

#include <cstddef>
#include <string>
#include <vector>

#include "core/byte_search.h"
#include "platform/codepage.h"

namespace ferry {

// A pattern searched for in text of a multi-byte code page (Shift JIS, EUC-JP, GBK, Big5,
// EUC-KR): a match begins and ends between characters, so a character's second byte never
// counts as a letter of its own (in Shift JIS the second byte of "ア" is "A"). Without case,
// both sides are compared by the upper case of whole characters (the full-width Latin,
// Greek and Cyrillic letters too).
//
// Blocks of a longer text are searched one by one, each beginning on a character boundary;
// a block that does not end the text says where the next one must begin.
class MultiBytePattern {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    MultiBytePattern(const CodePage& codePage, const std::string& pattern, bool caseSensitive);

    bool HasNul() const { return HasNul_; }
    std::size_t Length() const { return Pattern_.size(); }

    // Position of the first match in data[0, size), data[0] beginning a character, or npos.
    // `next` gets the last character boundary at or before size - Length() + 1: every match
    // this block could not hold begins there or later.
    std::size_t FindIn(const unsigned char* data, std::size_t size, std::size_t& next) const;

private:
    CodePage CodePage_;
    std::string Pattern_; // upper-cased when not case-sensitive
    bool Folded_;
    bool HasNul_;
    BytePattern Bytes_;                          // exact search of Pattern_
    mutable std::vector<unsigned char> Scratch_; // the block upper-cased; one pattern per thread
};

} // namespace ferry
