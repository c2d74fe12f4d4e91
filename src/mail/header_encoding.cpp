#include "mail/header_encoding.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/text.h"
#include "mail/iso2022jp.h"
#include "platform/codepage.h"
#include "platform/host.h"

namespace ferry {

namespace {

const int kMaxEncodedWord = 75;

bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsEncodingLetter(char c) {
    return c == 'B' || c == 'b' || c == 'Q' || c == 'q';
}

// Whether the text holds something of the form =?charset?letter?text?= that a decoder
// would turn into other text.
bool HoldsEncodedWord(const std::string& s) {
    for (size_t start = s.find("=?"); start != std::string::npos; start = s.find("=?", start + 1)) {
        size_t p = start + 2;
        size_t cs = p;
        while (p < s.size() && s[p] != '?' && !IsWhite(s[p]))
            ++p;
        if (p == cs || p + 2 >= s.size() || s[p] != '?' || !IsEncodingLetter(s[p + 1]) ||
            s[p + 2] != '?')
            continue;
        p += 3;
        while (p + 1 < s.size() && !IsWhite(s[p]) && !(s[p] == '?' && s[p + 1] == '='))
            ++p;
        if (p + 1 < s.size() && s[p] == '?' && s[p + 1] == '=')
            return true;
    }
    return false;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Group(const unsigned char* p, size_t n) {
    std::string g(4, '=');
    uint32_t v = static_cast<uint32_t>(p[0]) << 16;
    if (n > 1)
        v |= static_cast<uint32_t>(p[1]) << 8;
    if (n > 2)
        v |= p[2];
    g[0] = kBase64[(v >> 18) & 63];
    g[1] = kBase64[(v >> 12) & 63];
    if (n > 1)
        g[2] = kBase64[(v >> 6) & 63];
    if (n > 2)
        g[3] = kBase64[v & 63];
    return g;
}

// The stretch cut into the characters of its code page; a byte that begins nothing
// well-formed stands on its own.
std::vector<std::string> Characters(const std::string& text, const CodePage& codePage) {
    std::vector<std::string> out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const size_t n = std::max<size_t>(1, codePage.CharLength(p + i, text.size() - i));
        out.push_back(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string Base64(const std::string& bytes) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < bytes.size(); i += 3)
        out += Base64Group(p + i, std::min<size_t>(3, bytes.size() - i));
    return out;
}

// Encoded words of UTF-8 or multi-byte text are cut between characters only, so that each
// word decodes alone.
void EncodeCharacterStretch(const std::string& stretch, const CodePage& codePage, char letter,
                            const std::string& opening,
                            const std::function<bool(unsigned char)>& needsQuote,
                            std::string& out) {
    const size_t emptyCount = opening.size() + 2;
    out += opening;
    if (letter == 'B') {
        std::string word;
        for (const std::string& ch : Characters(stretch, codePage)) {
            if (!word.empty() &&
                emptyCount + (word.size() + ch.size() + 2) / 3 * 4 > kMaxEncodedWord) {
                out += Base64(word) + "?=\r\n " + opening;
                word.clear();
            }
            word += ch;
        }
        out += Base64(word) + "?=";
        return;
    }
    size_t count = emptyCount;
    for (const std::string& ch : Characters(stretch, codePage)) {
        std::string piece;
        for (char c : ch) {
            const auto u = static_cast<unsigned char>(c);
            piece += c == ' '        ? std::string("_")
                     : needsQuote(u) ? Format("=%02X", u)
                                     : std::string(1, c);
        }
        if (count > emptyCount && count + piece.size() > kMaxEncodedWord) {
            out += "?=\r\n " + opening;
            count = emptyCount;
        }
        out += piece;
        count += piece.size();
    }
    out += "?=";
}

// Writes one stretch as encoded words, starting a new word before one would pass the limit.
// Text in a multi-byte code page is cut between its characters, as UTF-8 is; other text
// (8-bit sets, ISO-2022-JP) byte by byte.
void EncodeStretch(const std::string& stretch, char letter, const std::string& charset,
                   TTransfer transfer, const std::function<bool(unsigned char)>& needsQuote,
                   std::string& out) {
    const std::string opening = "=?" + charset + "?" + std::string(1, letter) + "?";
    if (SameTextAscii(charset, "UTF-8")) {
        EncodeCharacterStretch(stretch, CodePage::Utf8(), letter, opening, needsQuote, out);
        return;
    }
    const CodePage& codePage = SystemCodePage();
    if (codePage.IsMultiByte() && transfer != TTransfer::iso2022jp) {
        EncodeCharacterStretch(stretch, codePage, letter, opening, needsQuote, out);
        return;
    }
    const size_t emptyCount = opening.size() + 2;
    size_t count = emptyCount;
    out += opening;
    auto addPiece = [&](const std::string& piece) {
        if (count > emptyCount && count + piece.size() > kMaxEncodedWord) {
            out += "?=\r\n " + opening;
            count = emptyCount;
        }
        out += piece;
        count += piece.size();
    };
    if (letter == 'B') {
        const auto* bytes = reinterpret_cast<const unsigned char*>(stretch.data());
        for (size_t i = 0; i < stretch.size(); i += 3)
            addPiece(Base64Group(bytes + i, std::min<size_t>(3, stretch.size() - i)));
    } else {
        for (char ch : stretch) {
            unsigned char u = static_cast<unsigned char>(ch);
            if (ch == ' ')
                addPiece("_");
            else if (needsQuote(u))
                addPiece(Format("=%02X", u));
            else
                addPiece(std::string(1, ch));
        }
    }
    out += "?=";
}

} // namespace

THeaderCharset HeaderCharsetForLocale(const std::string& locale) {
    std::string language, territory;
    SplitLocaleName(locale, language, territory);
    language = LowerCaseAscii(language);
    THeaderCharset cs;
    cs.Transfer = TTransfer::bit8;
    cs.HeaderEncoding = 'B';
    if (language == "zh") {
        cs.CharSet = SameTextAscii(territory, "CN") ? "GB2312" : "Big5";
    } else if (language == "ja") {
        cs.CharSet = "ISO-2022-JP";
        cs.Transfer = TTransfer::iso2022jp;
    } else if (language == "ko") {
        cs.CharSet = "csEUCKR";
    } else if (language == "ru") {
        cs.CharSet = "KOI8-R";
    } else if (language == "uk") {
        cs.CharSet = "windows-1251";
    } else {
        cs.CharSet = "ISO-8859-1";
        cs.HeaderEncoding = 'Q';
    }
    return cs;
}

std::string CodePageMailCharset(const CodePage& codePage) {
    if (codePage.IsUtf8())
        return "UTF-8";
    if (!codePage.IsMultiByte() || codePage.IsShiftJis())
        return {};
    std::string key;
    for (char c : codePage.Name())
        if (c != '-' && c != '_')
            key += static_cast<char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
    static const struct {
        const char* Key;
        const char* Label;
    } kLabels[] = {
        {"EUCJP", "EUC-JP"},  {"GBK", "GBK"},      {"CP936", "GBK"},
        {"GB2312", "GB2312"}, {"EUCCN", "GB2312"}, {"GB18030", "GB18030"},
        {"BIG5", "Big5"},     {"CP950", "Big5"},   {"BIG5HKSCS", "Big5-HKSCS"},
        {"EUCKR", "csEUCKR"}, {"EUCTW", "EUC-TW"},
    };
    for (const auto& label : kLabels)
        if (key == label.Key)
            return label.Label;
    return codePage.Name();
}

THeaderCharset DefaultHeaderCharset() {
    THeaderCharset cs = HeaderCharsetForLocale(LocaleName());
    const CodePage& codePage = SystemCodePage();
    if (codePage.IsShiftJis()) {
        // Code page 932 is the Japanese system's: its text goes out as ISO-2022-JP.
        cs.CharSet = "ISO-2022-JP";
        cs.Transfer = TTransfer::iso2022jp;
        cs.HeaderEncoding = 'B';
    } else if (codePage.IsUtf8()) {
        // The texts are UTF-8 whatever the language: label them so, and send them as they are.
        cs.CharSet = "UTF-8";
        cs.Transfer = TTransfer::bit8;
    } else if (codePage.IsMultiByte()) {
        // Text in EUC-JP, GBK, Big5, EUC-KR... is sent as it is, under its own name.
        cs.CharSet = CodePageMailCharset(codePage);
        cs.Transfer = TTransfer::bit8;
        cs.HeaderEncoding = 'B';
    }
    return cs;
}

std::string EncodeHeaderText(const std::string& input, const std::string& specials,
                             char headerEncoding, TTransfer transfer, const std::string& charset) {
    std::string text = transfer == TTransfer::iso2022jp ? ConvertToIso2022Jp(input) : input;
    if (headerEncoding == '8')
        return text;

    const bool encodeEquals = HoldsEncodedWord(text);
    auto needsEncoding = [&](unsigned char c) {
        return c < 32 || c >= 127 || specials.find(static_cast<char>(c)) != std::string::npos ||
               (encodeEquals && c == '=');
    };
    auto needsQuote = [&](unsigned char c) {
        return needsEncoding(c) || c == '?' || c == '=' || c == '_' || c == ' ';
    };

    // Words: the whitespace before a run of other characters, and the run.
    struct Word {
        size_t WhiteStart, TextStart, End;
        bool Encode;
    };
    std::vector<Word> words;
    for (size_t p = 0; p < text.size();) {
        Word w{p, p, p, false};
        while (w.TextStart < text.size() && IsWhite(text[w.TextStart]))
            ++w.TextStart;
        w.End = w.TextStart;
        while (w.End < text.size() && !IsWhite(text[w.End])) {
            w.Encode = w.Encode || needsEncoding(static_cast<unsigned char>(text[w.End]));
            ++w.End;
        }
        words.push_back(w);
        p = w.End;
    }

    std::string out;
    for (size_t i = 0; i < words.size();) {
        if (!words[i].Encode) {
            out.append(text, words[i].WhiteStart, words[i].End - words[i].WhiteStart);
            ++i;
            continue;
        }
        size_t last = i;
        while (last + 1 < words.size() && words[last + 1].Encode)
            ++last;
        out.append(text, words[i].WhiteStart, words[i].TextStart - words[i].WhiteStart);
        EncodeStretch(text.substr(words[i].TextStart, words[last].End - words[i].TextStart),
                      headerEncoding, charset, transfer, needsQuote, out);
        i = last + 1;
    }
    return out;
}

std::string FormatAddressForHeader(TIdEMailAddressItem& item, bool useAddressAsName,
                                   char headerEncoding, TTransfer transfer,
                                   const std::string& charset) {
    if (useAddressAsName && item.Name.empty())
        item.Name = item.Address;
    if (item.Name.empty())
        return item.Address;
    bool printable = true;
    for (char c : item.Name) {
        unsigned char u = static_cast<unsigned char>(c);
        printable = printable && u >= 32 && u <= 126;
    }
    std::string name;
    if (printable) {
        name = "\"";
        for (char c : item.Name) {
            if (c == '\\' || c == '"')
                name += '\\';
            name += c;
        }
        name += '"';
    } else {
        name = EncodeHeaderText(item.Name, "()[]<>:;.,@\\\"", headerEncoding, transfer, charset);
    }
    return name + " <" + item.Address + ">";
}

std::string FormatAddressListForHeader(TIdEMailAddressList& list, bool useAddressAsName,
                                       char headerEncoding, TTransfer transfer,
                                       const std::string& charset) {
    std::string out;
    for (size_t i = 0; i < list.Count(); ++i) {
        if (i > 0)
            out += ", ";
        out += FormatAddressForHeader(list[i], useAddressAsName, headerEncoding, transfer, charset);
    }
    return out;
}

} // namespace ferry
