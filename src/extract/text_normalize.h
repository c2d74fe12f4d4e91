#pragma once

// Text as a person reads it, so that one phrase matches as one: Unicode NFC (a letter typed
// as base and accent equals its precomposed form) and every run of white space, line and
// column breaks included, as one space. Ill-formed UTF-8 becomes U+FFFD.

#include <string>
#include <string_view>

namespace ferry {

// For extracted text: runs collapsed, and none left at either end.
std::string NormalizeText(std::string_view utf8);
// For a match string: runs collapsed, but a space the user typed at an end is kept.
std::string NormalizePattern(std::string_view utf8);

} // namespace ferry
