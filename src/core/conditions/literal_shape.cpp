#include "core/conditions/literal_shape.h"

#include "core/fold_search.h"

#include <algorithm>

namespace ferry {

namespace {

std::string Utf8Of(char32_t cp) {
    std::string out;
    AppendUtf8(out, cp);
    return out;
}

// The UTF-8 forms of a character under simple case folding.
LiteralElement FoldForms(char32_t cp) {
    LiteralElement e;
    for (char32_t member : Utf8FoldPattern::CaseClass(cp))
        e.Forms.push_back(Utf8Of(member));
    return e;
}

} // namespace

std::vector<LiteralElement> ShapeBytes(std::string_view bytes) {
    std::vector<LiteralElement> out;
    for (const char b : bytes)
        out.push_back(LiteralElement{{std::string(1, b)}});
    return out;
}

std::vector<LiteralElement> ShapeLiteral(std::string_view bytes, const TextReader& reader,
                                         bool caseSensitive) {
    std::vector<LiteralElement> out;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (caseSensitive)
        return ShapeBytes(bytes);
    if (reader.MultiByte()) {
        std::string upper(bytes);
        reader.Page().UpperInPlace(upper.data(), upper.size());
        return ShapeBytes(upper);
    }
    if (!reader.Utf8()) {
        const unsigned char* upper = CharUpperTable();
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            LiteralElement e;
            for (int b = 0; b < 256; ++b)
                if (upper[b] == upper[p[i]])
                    e.Forms.emplace_back(1, static_cast<char>(b));
            out.push_back(std::move(e));
        }
        return out;
    }
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp;
        const int length = DecodeUtf8(p + i, bytes.size() - i, cp);
        if (length <= 0) {
            out.push_back(LiteralElement{{std::string(1, bytes[i])}});
            ++i;
        } else {
            out.push_back(FoldForms(cp));
            i += static_cast<std::size_t>(length);
        }
    }
    return out;
}

std::vector<LiteralElement> ShapeRequiredText(std::string_view utf8, const TextReader& reader) {
    std::vector<LiteralElement> out;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp;
        int length = DecodeUtf8(p + i, utf8.size() - i, cp);
        if (length <= 0) {
            cp = 0xFFFD;
            length = 1;
        }
        i += static_cast<std::size_t>(length);
        LiteralElement e = FoldForms(cp);
        if (cp == U'i')
            e.Forms.push_back(Utf8Of(0x130));
        if (!reader.Utf8()) {
            // Each byte whose character folds as one of the forms does.
            std::vector<char32_t> wanted;
            for (const std::string& form : e.Forms) {
                char32_t c;
                DecodeUtf8(reinterpret_cast<const unsigned char*>(form.data()), form.size(), c);
                wanted.push_back(FoldChar(c));
            }
            e.Forms.clear();
            for (int b = 0; b < 256; ++b) {
                const auto byte = static_cast<unsigned char>(b);
                char32_t c;
                reader.Decode(&byte, 1, c);
                if (c >= 0xDC00 && c < 0xDD00)
                    c = 0xFFFD; // as the expression sees a byte that means nothing
                if (std::find(wanted.begin(), wanted.end(), FoldChar(c)) != wanted.end())
                    e.Forms.emplace_back(1, static_cast<char>(b));
            }
        }
        out.push_back(std::move(e));
    }
    return out;
}

} // namespace ferry
