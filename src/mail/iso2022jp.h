#pragma once

// Japanese text in the ISO-2022-JP form mail carries it in.

#include <string>

namespace ferry {

// Shift JIS text to ISO-2022-JP: double-byte characters and half-width katakana become JIS
// X 0208 codes between ESC "$B" and ESC "(B"; bytes with no JIS X 0208 form are dropped.
std::string ConvertToIso2022Jp(const std::string& text);

} // namespace ferry
