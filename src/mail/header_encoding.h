#pragma once

#include <string>

#include "mail/address.h"

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
// "UTF-8" (the encoding letter still follows the language).
THeaderCharset DefaultHeaderCharset();

// Free text with control or non-ASCII characters (or any of specials) as RFC 2047 encoded
// words of at most 75 characters, split by CR LF space. With the "UTF-8" set a word never
// ends inside a character.
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
