#pragma once

// The content matcher's search in 8-bit code pages: exact, or by the code page's upper case.

#include <cstddef>
#include <string>

namespace ferry {

// A pattern prepared for searching blocks of file bytes. When folded, the pattern is held
// upper-cased by the ANSI code page and every byte of the data is compared by its upper
// case, so the data itself is never written to.
class BytePattern {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    BytePattern(const std::string& pattern, bool caseSensitive);

    std::size_t Length() const { return Pattern_.size(); }
    bool Folded() const { return Folded_; }
    // True when the pattern holds a NUL byte: it can then never match, since file text is
    // matched within its NUL-delimited pieces.
    bool HasNul() const { return HasNul_; }

    // Position of the first occurrence in data[0, size), or npos.
    std::size_t FindIn(const unsigned char* data, std::size_t size) const;

private:
    std::string Pattern_;
    bool Folded_;
    bool HasNul_;
    // The two pattern offsets the vector filter tests, chosen for the rarity of their bytes,
    // and the data bytes that compare equal to the pattern's byte there.
    std::size_t FirstAt_ = 0, LastAt_ = 0;
    unsigned char First_[2];
    unsigned char Last_[2];
    // More than two bytes fold onto a tested byte: the vector filter cannot say.
    bool ManyPartners_ = false;
};

// Tests only: false makes the search use its 16-byte loop even where 32-byte vectors exist.
void AllowWideVectorsForTesting(bool allow);

} // namespace ferry
