#include "core/conditions/text_reader.h"

#include "platform/multibyte_charset.h"

#include <unicode/uchar.h>

namespace ferry {

namespace {

constexpr char32_t kStray = 0xDC00;

bool IsStray(char32_t cp) {
    return cp >= kStray && cp < kStray + 0x100;
}

// The one character a code page's UTF-16 gives for one of its characters.
char32_t OneChar(const std::u16string& u, unsigned char first) {
    if (u.size() == 1 && !IsStray(u[0]))
        return u[0];
    if (u.size() == 2 && u[0] >= 0xD800 && u[0] < 0xDC00 && u[1] >= 0xDC00 && u[1] < 0xE000)
        return 0x10000 + ((static_cast<char32_t>(u[0]) - 0xD800) << 10) + (u[1] - 0xDC00);
    return kStray + first;
}

} // namespace

char32_t FoldChar(char32_t cp) {
    if (IsStray(cp))
        return cp;
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(cp), U_FOLD_CASE_DEFAULT));
}

TextReader::TextReader(const CodePage& codePage) : Page_(codePage) {
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        if (Utf8())
            Chars_[b] = b < 0x80 ? static_cast<char32_t>(b) : kStray + static_cast<char32_t>(b);
        else if (Page_.CharLength(&byte, 1) != 1)
            Chars_[b] = kStray + static_cast<char32_t>(b); // opens a longer character
        else
            Chars_[b] = OneChar(
                Page_.ToUtf16(std::string_view(reinterpret_cast<const char*>(&byte), 1)), byte);
        Space_[b] = !IsStray(Chars_[b]) && u_isUWhiteSpace(static_cast<UChar32>(Chars_[b]));
    }
}

std::size_t TextReader::Decode(const unsigned char* p, std::size_t available, char32_t& cp,
                               bool atEnd) const {
    if (available == 0)
        return 0;
    if (p[0] < 0x80 || (!Utf8() && !MultiByte())) {
        cp = Chars_[p[0]];
        return 1;
    }
    std::size_t length = Page_.CharLength(p, available);
    if (length == 0) {
        if (!atEnd)
            return 0;
        length = 1;
    }
    if (length == 1) {
        cp = Utf8() ? kStray + p[0] : Chars_[p[0]];
        return 1;
    }
    if (Utf8())
        DecodeUtf8(p, available, cp);
    else
        cp = OneChar(Page_.ToUtf16(std::string_view(reinterpret_cast<const char*>(p), length)),
                     p[0]);
    return length;
}

std::size_t TextReader::SpaceAt(const unsigned char* p, std::size_t available) const {
    if (available == 0)
        return 0;
    if (p[0] < 0x80 || (!Utf8() && !MultiByte()))
        return Space_[p[0]] ? 1 : 0;
    char32_t cp;
    const std::size_t length = Decode(p, available, cp, false);
    return length > 0 && !IsStray(cp) && u_isUWhiteSpace(static_cast<UChar32>(cp)) ? length : 0;
}

std::size_t TextReader::LastBoundary(const unsigned char* data, std::size_t size,
                                     std::size_t pos) const {
    if (pos >= size)
        return size;
    if (MultiByte())
        return Page_.MultiByte()->LastBoundary(data, size, pos);
    if (Utf8())
        for (std::size_t back = 0; back < 3 && pos > 0 && (data[pos] & 0xC0) == 0x80; ++back)
            --pos;
    return pos;
}

std::size_t TextReader::NextBoundary(const unsigned char* data, std::size_t size,
                                     std::size_t pos) const {
    std::size_t at = LastBoundary(data, size, pos);
    while (at < pos) {
        const std::size_t n = Page_.CharLength(data + at, size - at);
        at += n ? n : 1;
    }
    return std::min(at, size);
}

std::string TextReader::ToUtf8(std::string_view text) const {
    if (Utf8())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        i += Decode(p + i, text.size() - i, cp);
        AppendUtf8(out, IsStray(cp) ? U'\uFFFD' : cp);
    }
    return out;
}

} // namespace ferry
