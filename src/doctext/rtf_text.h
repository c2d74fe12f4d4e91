#pragma once

// The words of an RTF file: text outside the tables and hidden destinations, with bytes in
// the document's or the font's code page, Unicode characters (\uN) in place of their
// fallbacks, and paragraph, line, cell and tab marks as breaks.

#include <cstddef>
#include <string>
#include <string_view>

namespace ferry {

// Throws ReadFailure: Damaged for nesting past any real document's, OverSizeBound past
// `limit` bytes of text.
std::string RtfText(std::string_view rtf, std::size_t limit);

} // namespace ferry
