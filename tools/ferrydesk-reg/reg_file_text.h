#pragma once

// What the reader and the writer of .reg files share: the two first lines, which value types
// hold text, and where a character of the code page ends.

#include <string_view>

#include "platform/codepage.h"
#include "platform/registry.h"

namespace ferry::reg_file {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

inline bool IsTextType(DWORD t) {
    return t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ;
}

// Bytes of the character at s[pos] in the code page: in Shift JIS, GBK and Big5 a second
// byte may be a backslash (0x5C), which must not escape what follows.
inline size_t CharAt(std::string_view s, size_t pos) {
    const size_t n = SystemCodePage().CharLength(
        reinterpret_cast<const unsigned char*>(s.data()) + pos, s.size() - pos);
    return n == 0 ? 1 : n;
}

} // namespace ferry::reg_file
