#include "extract/text_match.h"

#include "core/fold_search.h"
#include "extract/text_normalize.h"
#include "platform/codepage.h"

namespace ferry {

namespace {

std::string ToUtf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            // a byte the code page could not decode: it can match nothing in text
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

} // namespace

TextPattern::TextPattern(const std::string& codePageText, bool caseSensitive)
    : Pattern_(NormalizePattern(ToUtf8(SystemCodePage().ToUtf16(codePageText)))),
      CaseSensitive_(caseSensitive) {
    if (!CaseSensitive_ && !Pattern_.empty())
        Folded_ = std::make_unique<Utf8FoldPattern>(Pattern_);
}

TextPattern::~TextPattern() = default;
TextPattern::TextPattern(TextPattern&&) noexcept = default;

long TextPattern::FindIn(const DocumentText& text) const {
    if (Pattern_.empty() || text.Status != TextStatus::Text)
        return -1;
    for (std::size_t i = 0; i < text.Pieces.size(); ++i) {
        const std::string& t = text.Pieces[i].Text;
        const bool found = CaseSensitive_
                               ? t.find(Pattern_) != std::string::npos
                               : Folded_->FindIn(reinterpret_cast<const unsigned char*>(t.data()),
                                                 t.size(), true, true) != Utf8FoldPattern::npos;
        if (found)
            return static_cast<long>(i);
    }
    return -1;
}

} // namespace ferry
