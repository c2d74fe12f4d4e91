#pragma once

// Characters of text in one code page, as the word rules of task conditions see them: the
// system code page for a file's bytes, UTF-8 for the text of documents.

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

    // The character at p with its byte length. A byte that starts no character of its own
    // (a stray byte in UTF-8, an unassigned one in an 8-bit code page) is U+DC00 + the byte,
    // one byte long, so that it equals only itself. In UTF-8, when the `available` bytes end
    // inside a sequence: 0 unless they end the text (`atEnd`), as more bytes would decide.
    std::size_t Decode(const unsigned char* p, std::size_t available, char32_t& cp,
                       bool atEnd = true) const;

    // Byte length of the white-space character at p (Unicode's White_Space), or 0.
    std::size_t SpaceAt(const unsigned char* p, std::size_t available) const;

    // The text as UTF-8: unchanged in UTF-8; in an 8-bit code page each byte's character,
    // U+FFFD for a byte that means nothing there.
    std::string ToUtf8(std::string_view text) const;

private:
    CodePage Page_;
    std::array<char32_t, 256> Chars_{}; // 8-bit code pages: each byte's character
    std::array<bool, 256> Space_{};
};

// A case-free form of a character for comparing without regard to case: Unicode's simple
// case folding. Stray bytes (U+DC00 + byte) stay as they are.
char32_t FoldChar(char32_t cp);

} // namespace ferry
