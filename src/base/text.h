#pragma once

// Text helpers every layer shares: trimming, ASCII case, integer conversion, formatting.

#include <cstdint>
#include <string>
#include <string_view>

namespace ferry {

// Blanks are the control bytes and the space: 0 to 32.
inline bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII-only letter case, for names and keywords (protocol words, registry names).
std::string UpperCaseAscii(std::string_view s);
std::string LowerCaseAscii(std::string_view s);
bool SameTextAscii(std::string_view a, std::string_view b);

std::string IntToStr(int64_t value);

// Integer conversion as the program's fields accept it: leading spaces, one sign, decimal
// digits or hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing after the digits.
// Decimal must fit a signed 32-bit integer; hexadecimal may use all 32 bits (so "$FFFFFFFF"
// is -1). Anything else raises EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);

// The same conversion without raising: false when the text is not an integer.
bool TryStrToInt(std::string_view text, int32_t& value);

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace ferry
