#pragma once

// The content matcher's search in UTF-8 without regard to letter case (Unicode folding).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ferry {

// A pattern searched for in UTF-8 bytes without regard to letter case: two characters
// match when Unicode's simple case folding maps them to the same character. The data is
// compared as it lies, sequence by sequence; a byte that is not part of a well-formed
// sequence, in the pattern or the data, matches only that same lone byte.
//
// Blocks of a longer text are searched one by one; each call says whether its data begins
// and ends the text. A match that would reach past a block's end is left to the next
// block, which must start Overlap() bytes before the end of this one.
class Utf8FoldPattern {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    explicit Utf8FoldPattern(const std::string& pattern);

    bool HasNul() const { return HasNul_; }
    // Longest run of bytes a match can take (a character may match a longer form of itself).
    std::size_t MaxMatchLength() const { return MaxLength_; }
    std::size_t Overlap() const { return MaxLength_ + 2 * kLookAround; }

    // Position of the first match in data[0, size), or npos. With atEnd false a match that
    // cannot be decided without the bytes after `size` ends the search with npos; with
    // atStart false, matches that begin within the first kLookAround bytes are left out
    // (the previous block has decided them).
    std::size_t FindIn(const unsigned char* data, std::size_t size, bool atStart, bool atEnd) const;

    // The characters that fold together with `cp` (itself included), in code point order.
    static std::vector<char32_t> CaseClass(char32_t cp);

private:
    // Bytes before and after a lone byte that tell whether it is part of a sequence.
    static constexpr std::size_t kLookAround = 3;

    // One character of the pattern: the UTF-8 forms it matches (one for a lone byte).
    struct Element {
        uint32_t Forms[8];
        uint8_t Lengths[8];
        uint8_t Count = 0;
        uint8_t MinLength = 4, MaxLength = 0;
        bool Lone = false; // a byte outside any well-formed sequence
    };
    enum class Step { No, Yes, More };

    Step MatchForward(const Element& e, const unsigned char* data, std::size_t at, std::size_t size,
                      bool atEnd, std::size_t& length) const;
    bool MatchBackward(const Element& e, const unsigned char* data, std::size_t end,
                       std::size_t& length) const;
    // Verifies a candidate whose anchor element starts at q; sets the match start.
    Step Verify(const unsigned char* data, std::size_t size, std::size_t q, bool atStart,
                bool atEnd, std::size_t& start) const;

    std::vector<Element> Elements_;
    bool HasNul_ = false;
    std::size_t MaxLength_ = 0;
    // The anchor: the element whose start the vector filter looks for, and the byte sets
    // it tests at two offsets from there (within elements whose forms share one length).
    std::size_t Anchor_ = 0;
    struct Probe {
        std::size_t Offset = 0;
        unsigned char Bytes[4] = {0, 0, 0, 0};
        int Count = 0;
    };
    Probe Probes_[2];
    int ProbeCount_ = 0;
};

} // namespace ferry
