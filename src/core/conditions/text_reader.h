#pragma once

// Characters of text in one code page, as the word rules of task conditions see them: the
// system code page for a file's bytes (8-bit, UTF-8 or multi-byte), UTF-8 for the text of
// documents.

#include "platform/codepage.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace ferry {

class TextReader {
public:
    explicit TextReader(const CodePage& codePage);

    const CodePage& Page() const { return Page_; }
    bool Utf8() const { return Page_.IsUtf8(); }
    bool MultiByte() const { return Page_.IsMultiByte(); }

    // The character at p with its byte length. A byte that starts no character of its own
    // (a stray byte in UTF-8, an unassigned one in an 8-bit code page) is U+DC00 + the byte,
    // one byte long, so that it equals only itself. When the `available` bytes end inside a
    // character: 0 unless they end the text (`atEnd`), as more bytes would decide.
    std::size_t Decode(const unsigned char* p, std::size_t available, char32_t& cp,
                       bool atEnd = true) const;

    // Byte length of the white-space character at p (Unicode's White_Space), or 0.
    std::size_t SpaceAt(const unsigned char* p, std::size_t available) const;

    // In data[0, size), data[0] beginning a character: the first character boundary at or
    // after `pos`, and the last at or before it. In a multi-byte code page a character's
    // second byte may look like a character of its own, so positions are found this way.
    std::size_t NextBoundary(const unsigned char* data, std::size_t size, std::size_t pos) const;
    std::size_t LastBoundary(const unsigned char* data, std::size_t size, std::size_t pos) const;

    // The text as UTF-8, one character for each of the code page's: unchanged in UTF-8;
    // U+FFFD for a byte that is no character.
    std::string ToUtf8(std::string_view text) const;

private:
    CodePage Page_;
    std::array<char32_t, 256> Chars_{}; // each byte's character, where it is one alone
    std::array<bool, 256> Space_{};
};

// A case-free form of a character for comparing without regard to case: Unicode's simple
// case folding. Stray bytes (U+DC00 + byte) stay as they are.
char32_t FoldChar(char32_t cp);

} // namespace ferry
