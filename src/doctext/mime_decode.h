#pragma once

// The decodings mail uses for text: base64 and quoted-printable bodies, and encoded words
// (=?charset?B?...?= and =?charset?Q?...?=) in header fields. Any bytes are accepted: what
// is malformed is decoded as far as it goes or kept as it stands, never refused.

#include <string>
#include <string_view>

namespace ferry {

// Characters outside the base64 alphabet (line breaks, spaces, junk) are passed over;
// decoding ends at the first '='.
std::string DecodeBase64(std::string_view in);

// "=XX" is a byte, "=" at a line's end joins it to the next; trailing white space before a
// line break is dropped. In header words (`header`), "_" is a space.
std::string DecodeQuotedPrintable(std::string_view in, bool header = false);

// A header field's value as UTF-8: encoded words decoded in their character sets (white
// space between two encoded words dropped), the rest read as UTF-8 when well-formed, else as
// Windows-1252.
std::string DecodeHeaderWords(std::string_view value);

} // namespace ferry
