#include "core/conditions/text_reader.h"

#include <unicode/uchar.h>

namespace ferry {

namespace {

constexpr char32_t kStray = 0xDC00;

bool IsStray(char32_t cp) {
    return cp >= kStray && cp < kStray + 0x100;
}

} // namespace

char32_t FoldChar(char32_t cp) {
    if (IsStray(cp))
        return cp;
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(cp), U_FOLD_CASE_DEFAULT));
}

TextReader::TextReader(const CodePage& codePage) : Page_(codePage) {
    for (int b = 0; b < 256; ++b) {
        if (Utf8()) {
            Chars_[b] = b < 0x80 ? static_cast<char32_t>(b) : kStray + static_cast<char32_t>(b);
        } else {
            const char byte = static_cast<char>(b);
            const std::u16string c = Page_.ToUtf16(std::string_view(&byte, 1));
            Chars_[b] = c.size() == 1 ? c[0] : kStray + static_cast<char32_t>(b);
        }
        Space_[b] = !IsStray(Chars_[b]) && u_isUWhiteSpace(static_cast<UChar32>(Chars_[b]));
    }
}

std::size_t TextReader::Decode(const unsigned char* p, std::size_t available, char32_t& cp,
                               bool atEnd) const {
    if (available == 0)
        return 0;
    if (!Utf8() || p[0] < 0x80) {
        cp = Chars_[p[0]];
        return 1;
    }
    const int length = DecodeUtf8(p, available, cp);
    if (length < 0 && !atEnd)
        return 0;
    if (length <= 0) {
        cp = kStray + p[0];
        return 1;
    }
    return static_cast<std::size_t>(length);
}

std::size_t TextReader::SpaceAt(const unsigned char* p, std::size_t available) const {
    if (available == 0)
        return 0;
    if (!Utf8() || p[0] < 0x80)
        return Space_[p[0]] ? 1 : 0;
    char32_t cp;
    const std::size_t length = Decode(p, available, cp, false);
    return length > 0 && !IsStray(cp) && u_isUWhiteSpace(static_cast<UChar32>(cp)) ? length : 0;
}

std::string TextReader::ToUtf8(std::string_view text) const {
    if (Utf8())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const char32_t cp = Chars_[static_cast<unsigned char>(c)];
        AppendUtf8(out, IsStray(cp) ? U'\uFFFD' : cp);
    }
    return out;
}

} // namespace ferry
