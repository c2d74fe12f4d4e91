#include "core/conditions/word_boundaries.h"

#include <memory>
#include <string>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace ferry {

namespace {

bool AsciiWordByte(unsigned char b) {
    return (b >= '0' && b <= '9') || ((b | 0x20) >= 'a' && (b | 0x20) <= 'z');
}

// Characters next to which a letter or digit always ends a word.
bool AsciiSeparator(unsigned char b) {
    return b == ' ' || b == '\t' || b == '\n' || b == '\r' || b == '\v' || b == '\f' || b == 0;
}

icu::BreakIterator* Iterator() {
    // Iterators are not shared between threads; each makes its own once.
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(it) : nullptr;
    }();
    return iterator.get();
}

} // namespace

bool WordBoundaries::At(const unsigned char* data, std::size_t size, std::size_t pos) const {
    if (pos == 0 || pos >= size)
        return true;
    // Most positions are told by their two neighbouring bytes; not in a multi-byte code page,
    // where the byte before may be the second byte of a character.
    const unsigned char before = data[pos - 1], after = data[pos];
    if (!Reader_.MultiByte()) {
        if (AsciiWordByte(before) && AsciiWordByte(after))
            return false;
        if ((AsciiWordByte(before) && AsciiSeparator(after)) ||
            (AsciiSeparator(before) && AsciiWordByte(after)))
            return true;
    }

    const std::size_t end = std::min(size, pos + Context);
    const std::size_t start = Reader_.NextBoundary(data, size, pos > Context ? pos - Context : 0);
    const CodePage& page = Reader_.Page();
    const auto* text = reinterpret_cast<const char*>(data);
    const std::u16string head = page.ToUtf16(std::string_view(text + start, pos - start));
    const std::u16string window = head + page.ToUtf16(std::string_view(text + pos, end - pos));
    icu::BreakIterator* it = Iterator();
    if (!it) {
        // No break rules to be had: letters and digits make words.
        char32_t a = 0, b = 0;
        const std::size_t back = Reader_.LastBoundary(data, size, pos - 1);
        Reader_.Decode(data + back, pos - back, a);
        Reader_.Decode(data + pos, size - pos, b);
        return !(u_isalnum(static_cast<UChar32>(a)) && u_isalnum(static_cast<UChar32>(b)));
    }
    const icu::UnicodeString s(false, window.data(), static_cast<int32_t>(window.size()));
    it->setText(s);
    return it->isBoundary(static_cast<int32_t>(head.size()));
}

} // namespace ferry
