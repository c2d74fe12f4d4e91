#include "doctext/charset.h"

#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace ferry {

bool IsUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto n = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < n;) {
        UChar32 c;
        U8_NEXT(s, i, n, c);
        if (c < 0)
            return false;
    }
    return true;
}

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
    std::string name(charset.substr(0, 64));
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = name.empty() ? nullptr : ucnv_open(name.c_str(), &status);
    if (!conv || U_FAILURE(status)) {
        if (conv)
            ucnv_close(conv);
        status = U_ZERO_ERROR;
        conv = ucnv_open(IsUtf8(bytes) ? "UTF-8" : "windows-1252", &status);
        if (!conv || U_FAILURE(status))
            return std::string(bytes);
    }
    icu::UnicodeString text;
    const auto length = static_cast<int32_t>(std::min<std::size_t>(bytes.size(), INT32_MAX / 2));
    // Each input byte makes at most two UTF-16 units.
    UChar* buf = text.getBuffer(length * 2 + 16);
    status = U_ZERO_ERROR;
    const int32_t made =
        buf ? ucnv_toUChars(conv, buf, length * 2 + 16, bytes.data(), length, &status) : 0;
    text.releaseBuffer(U_SUCCESS(status) ? made : 0);
    ucnv_close(conv);
    std::string out;
    text.toUTF8String(out);
    return out;
}

} // namespace ferry
