#include "extract/text_normalize.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace ferry {

namespace {

std::string Normalize(std::string_view utf8, bool trim) {
    const icu::UnicodeString in = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    icu::UnicodeString collapsed;
    bool inSpace = false;
    for (int32_t i = 0; i < in.length();) {
        const UChar32 c = in.char32At(i);
        i += U16_LENGTH(c);
        if (u_isUWhiteSpace(c)) {
            inSpace = true;
            continue;
        }
        if (inSpace && !(trim && collapsed.isEmpty()))
            collapsed.append(static_cast<UChar>(' '));
        inSpace = false;
        collapsed.append(c);
    }
    if (inSpace && !trim)
        collapsed.append(static_cast<UChar>(' '));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString composed;
    if (U_SUCCESS(status))
        composed = nfc->normalize(collapsed, status);
    if (U_FAILURE(status))
        composed = collapsed;
    std::string out;
    composed.toUTF8String(out);
    return out;
}

} // namespace

std::string NormalizeText(std::string_view utf8) {
    return Normalize(utf8, true);
}

std::string NormalizePattern(std::string_view utf8) {
    return Normalize(utf8, false);
}

} // namespace ferry
