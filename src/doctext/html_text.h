#pragma once

// The words of an HTML page as a browser shows them: the title and the body, without
// scripts, style sheets or markup; block elements end lines.

#include <cstddef>
#include <string>
#include <string_view>

namespace ferry {

// `charset` names the bytes' character set when the caller knows it ("UTF-8" for a mail
// part already decoded); empty lets the page's own declaration, or UTF-8 if the bytes are
// well-formed UTF-8, decide. Throws ReadFailure(OverSizeBound) past `limit` bytes of text.
std::string HtmlText(std::string_view html, const std::string& charset, std::size_t limit);

} // namespace ferry
