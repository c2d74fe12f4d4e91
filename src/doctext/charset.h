#pragma once

// Text in a named character set ("windows-1251", "koi8-r", "utf-16le", "iso-2022-jp") as
// UTF-8, through ICU's converters. A name ICU does not know is read as UTF-8 when the bytes
// are well-formed UTF-8, else as Windows-1252, which decodes every byte: text is never lost.

#include <string>
#include <string_view>

namespace ferry {

std::string ToUtf8(std::string_view bytes, std::string_view charset);

// Whether the bytes are well-formed UTF-8 throughout.
bool IsUtf8(std::string_view bytes);

} // namespace ferry
