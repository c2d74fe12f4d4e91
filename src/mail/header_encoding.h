#pragma once

// How free text becomes header text: encoded words in the code page's character set.

#include <string>

#include "mail/address.h"
#include "platform/codepage.h"

namespace ferry {

enum class TTransfer { bit7, bit8, iso2022jp };

// How free text is written into headers: the transfer form, the encoded-word letter
// ('B', 'Q', or '8' for no encoding) and the character set named in encoded words.
struct THeaderCharset {
    TTransfer Transfer = TTransfer::bit8;
    char HeaderEncoding = 'Q';
    std::string CharSet = "ISO-8859-1";
};

// The header character set for a locale name such as "ru_RU.KOI8-R".
THeaderCharset HeaderCharsetForLocale(const std::string& locale);
// The header character set for this process's locale. In a UTF-8 code page the set is
// "UTF-8" (the encoding letter still follows the language); in code page 932 (a Shift JIS
// locale) ISO-2022-JP; in another multi-byte code page its own, with "B" encoded words.
THeaderCharset DefaultHeaderCharset();

// The name mail gives text in this code page where the code page alone decides it: "UTF-8",
// and the multi-byte sets other than Shift JIS ("EUC-JP", "GBK", "Big5", "csEUCKR", ...).
// Empty for the 8-bit sets and Shift JIS, whose mail follows the language.
std::string CodePageMailCharset(const CodePage& codePage);

// Free text with control or non-ASCII characters (or any of specials) as RFC 2047 encoded
// words of at most 75 characters, split by CR LF space. With the "UTF-8" set, and in a
// multi-byte code page (but for ISO-2022-JP), a word never ends inside a character.
std::string EncodeHeaderText(const std::string& text, const std::string& specials,
                             char headerEncoding, TTransfer transfer, const std::string& charset);

// The header form of an address: a quoted or encoded name, then the address in brackets.
// With useAddressAsName an item without a name is given its address as its name.
std::string FormatAddressForHeader(TIdEMailAddressItem& item, bool useAddressAsName,
                                   char headerEncoding, TTransfer transfer,
                                   const std::string& charset);
std::string FormatAddressListForHeader(TIdEMailAddressList& list, bool useAddressAsName,
                                       char headerEncoding, TTransfer transfer,
                                       const std::string& charset);

} // namespace ferry
