#pragma once

// The code page of the program's texts, and its letter case.

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ferry {

class MultiByteCharset;

// The code page of the program's 8-bit texts. It is the user's locale's character set:
// UTF-8 on current systems, a legacy single-byte set (ISO-8859-x, KOI8-R, CP1251, ...) or
// multi-byte set (Shift JIS, EUC-JP, GBK, Big5, EUC-KR, ...) in such a locale, and
// Windows-1252 in the bare C/POSIX locale, where the locale names none. A Shift JIS locale
// (SJIS, SHIFT_JIS, CP932, WINDOWS-31J) is read as code page 932, whose 0x5C is the
// backslash.
class CodePage {
public:
    enum class Kind { Windows1252, Utf8, SingleByte, MultiByte };

    static CodePage Windows1252();
    static CodePage Utf8();
    // The code page of a locale name ("ru_RU.KOI8-R", "C.UTF-8", "C"). False when the name
    // is neither an installed locale nor one whose character set can be told from the name.
    static bool ForLocale(const std::string& locale, CodePage& out);
    // The code page of this process's locale: LC_ALL, then LC_CTYPE, then LANG.
    static CodePage FromEnvironment();

    Kind GetKind() const { return Kind_; }
    bool IsUtf8() const { return Kind_ == Kind::Utf8; }
    bool IsMultiByte() const { return Kind_ == Kind::MultiByte; }
    // The multi-byte code page's layout; null for the others.
    const MultiByteCharset* MultiByte() const { return Multi_.get(); }
    // Code page 932: Japanese text in Shift JIS.
    bool IsShiftJis() const { return ShiftJis_; }
    // The character set's name as the locale gives it ("UTF-8", "KOI8-R", "WINDOWS-1252").
    const std::string& Name() const { return Name_; }

    // Bytes of the character at p: 1 in the 8-bit code pages, 1 to 4 in UTF-8 and the
    // multi-byte ones (1 for a byte that begins nothing well-formed). 0 when `available`
    // ends inside the character.
    std::size_t CharLength(const unsigned char* p, std::size_t available) const;

    // Code-page bytes to UTF-16. In UTF-8, a byte that is not part of a well-formed
    // sequence becomes the lone surrogate U+DC00 + byte, so that the bytes come back whole.
    std::u16string ToUtf16(std::string_view bytes) const;
    // UTF-16 to code-page bytes; a character the code page lacks becomes "?".
    std::string FromUtf16(std::u16string_view text) const;
    // As FromUtf16, but false (with the first character that does not fit) instead of "?".
    bool FromUtf16Exact(std::u16string_view text, std::string& out, char32_t& missing) const;

    // Upper case of one byte for the 8-bit code pages. In UTF-8 only ASCII letters change:
    // the case of other characters is a matter of whole sequences (core/byte_search). In a
    // multi-byte code page it holds the single-byte characters only: bytes there must be
    // upper-cased by characters (UpperInPlace), or a second byte may be taken for a letter.
    const unsigned char* UpperTable() const { return Upper_->data(); }
    // Upper-cases `length` bytes in place: byte by byte through the table, character by
    // character in a multi-byte code page.
    void UpperInPlace(char* text, std::size_t length) const;

private:
    CodePage() = default;

    Kind Kind_ = Kind::Windows1252;
    std::string Name_;
    std::shared_ptr<const std::array<unsigned char, 256>> Upper_;
    // Byte to character for the 8-bit code pages, 0xFFFF where the byte means nothing.
    std::shared_ptr<const std::array<char16_t, 256>> Chars_;
    // Character to byte for the 8-bit code pages, sorted by character.
    std::shared_ptr<const std::vector<std::pair<char16_t, unsigned char>>> Reverse_;
    // The multi-byte code pages' layout, case and conversions.
    std::shared_ptr<const MultiByteCharset> Multi_;
    bool ShiftJis_ = false;
};

// The well-formed UTF-8 sequence at p: its length (1 to 4) with the code point in cp; 0 when
// p[0] starts no well-formed sequence (it is then an invalid byte of its own); -1 when the
// `available` bytes are a proper beginning of one and more bytes would decide.
int DecodeUtf8(const unsigned char* p, std::size_t available, char32_t& cp);
// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t cp);

// The program's code page, taken from the environment the first time it is asked for.
const CodePage& SystemCodePage();
// Replaces it (start-up and tests); the previous one stays valid for readers holding it.
void SetSystemCodePage(const CodePage& codePage);

// Upper-casing of one byte by the system code page. In Windows-1252, besides a-z
// it folds the accented letters at 0xE0-0xFE (not 0xF7, the division sign) and the four
// letters 0x9A, 0x9C, 0x9E and 0xFF onto their capitals; letters whose capital is not in
// the code page (0xB5 micro, 0xDF sharp s, 0x83 f-hook) stay as they are.
unsigned char CharUpperByte(unsigned char c);

// The whole 256-byte table, for callers that fold in bulk (not in a multi-byte code page,
// whose characters are upper-cased whole).
const unsigned char* CharUpperTable();

// Upper-cases a NUL-terminated text in place, stopping at its NUL, and returns it. In a
// multi-byte code page a character's second byte is never changed as if it were a letter.
char* CharUpperA(char* text);

// Upper-cases exactly `length` bytes in place (NUL bytes included) and returns the count.
std::size_t CharUpperBuffA(char* text, std::size_t length);

// Upper-cased copy of a text.
std::string CharUpperString(std::string text);

} // namespace ferry
