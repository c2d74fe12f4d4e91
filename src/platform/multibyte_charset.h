#pragma once

// The multi-byte legacy character sets, as the system's iconv knows them.

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ferry {

// A legacy character set whose characters take one to four bytes (Shift JIS, EUC-JP, GBK,
// Big5, EUC-KR, GB18030, ...), as the system's iconv knows it: which bytes open a longer
// character and which may follow them, and the upper case of each character whose capital
// has the same length. Text is walked character by character, so that the second byte of a
// character (which in Shift JIS, GBK and Big5 may be an ASCII letter or a backslash) is
// never taken for a character of its own.
class MultiByteCharset {
public:
    // Nothing when iconv does not know the set or when every character is one byte.
    static std::shared_ptr<const MultiByteCharset> Load(const std::string& iconvName);

    const std::string& IconvName() const { return IconvName_; }

    // Bytes of the character at p (1 to 4). A byte that opens a character whose following
    // bytes do not fit stands alone (1). 0 when `available` ends inside the character.
    std::size_t CharLength(const unsigned char* p, std::size_t available) const {
        if (available == 0)
            return 0;
        std::size_t n = Length_[p[0]];
        if (n == 1)
            return 1;
        if (available < 2)
            return 0;
        if (!Trail_[p[1]])
            return 1;
        if (n == 2 && Longer_[p[1]])
            n = 4;
        for (std::size_t i = 2; i < n; ++i) {
            if (i >= available)
                return 0;
            if (!Trail_[p[i]])
                return 1;
        }
        return n;
    }

    // The last character boundary at or before `position` in data[0, size), data[0]
    // beginning a character. Where every byte that cannot open a character also ends one
    // (all but GB18030), it is found from the bytes just before `position`; else by walking
    // from the start.
    std::size_t LastBoundary(const unsigned char* data, std::size_t size,
                             std::size_t position) const;
    bool Resyncs() const { return Resyncs_; }

    // Upper-cases length bytes in place, character by character. A character without a
    // capital of its own length, and one cut off at the end, stays as it is.
    void Upper(unsigned char* text, std::size_t length) const;
    // The upper case of the single-byte characters; lead bytes map to themselves.
    const unsigned char* SingleUpper() const { return Upper1_.data(); }

    // Bytes to UTF-16; a byte that is no character of the set becomes U+DC00 + byte.
    std::u16string ToUtf16(std::string_view bytes) const;
    // UTF-16 to bytes; U+DC80..U+DCFF become the byte they stand for, and a character the
    // set lacks becomes "?" (false, with the first such character in missing).
    bool FromUtf16Exact(std::u16string_view text, std::string& out, char32_t& missing) const;

private:
    MultiByteCharset() = default;

    std::string IconvName_;
    std::array<unsigned char, 256> Length_{}; // by first byte: 1, or the length it opens
    std::array<bool, 256> Trail_{};           // may follow a lead byte
    std::array<bool, 256> Longer_{};          // as second byte, makes a four-byte character
    std::array<unsigned char, 256> Upper1_{};
    bool Resyncs_ = true;                // a byte that opens nothing always ends a character
    std::vector<unsigned short> Upper2_; // by (first << 8 | second); empty when none changes
    std::array<bool, 256> Cased_{};      // lead bytes of a character Upper2_ changes
};

} // namespace ferry
