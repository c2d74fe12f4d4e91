#include "ferrydesk-reg/reg_file.h"
#include "ferrydesk-reg/reg_file_text.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstdio>

namespace ferry {

using namespace reg_file;

namespace {

std::string LineError(int line, const std::string& what) {
    return "Line " + std::to_string(line) + ": " + what;
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::u16string Utf16Units(std::string_view bytes) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        units += static_cast<char16_t>(
            static_cast<unsigned char>(bytes[i]) |
            (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8));
    return units;
}

// The UTF-16 file as text in the code page, so that both forms parse alike.
bool DecodeUtf16(std::string_view bytes, std::string& text, std::string& error) {
    text.clear();
    const CodePage& codePage = SystemCodePage();
    const std::u16string units = Utf16Units(bytes);
    int line = 1;
    for (size_t start = 0; start < units.size(); ++line) {
        size_t end = units.find(u'\n', start);
        end = end == std::u16string::npos ? units.size() : end + 1;
        std::string piece;
        char32_t missing = 0;
        if (!codePage.FromUtf16Exact(std::u16string_view(units).substr(start, end - start), piece,
                                     missing)) {
            char buf[80];
            std::snprintf(buf, sizeof buf, "character U+%04X cannot be kept in %s text",
                          static_cast<unsigned>(missing), codePage.Name().c_str());
            error = LineError(line, buf);
            return false;
        }
        text += piece;
        start = end;
    }
    if (bytes.size() % 2) {
        error = LineError(line, "the UTF-16 text ends in half a character");
        return false;
    }
    return true;
}

// UTF-16LE bytes (of hex(1), hex(2), hex(7) in the 5.00 form) as text in the code page.
bool Utf16BytesToAnsi(const std::string& in, std::string& out) {
    if (in.size() % 2)
        return false;
    char32_t missing = 0;
    return SystemCodePage().FromUtf16Exact(Utf16Units(in), out, missing);
}

// A quoted string at s[pos] (pos at the opening quote); pos ends after the closing quote.
bool ParseQuoted(std::string_view s, size_t& pos, std::string& out) {
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        if (const size_t n = CharAt(s, pos); n > 1) {
            out.append(s.substr(pos, n));
            pos += n - 1;
            continue;
        }
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"'))
            c = s[++pos];
        out += c;
    }
    return false;
}

bool ParseHexBytes(std::string_view s, std::string& out) {
    out.clear();
    size_t i = 0;
    s = TrimBlanks(s);
    if (s.empty())
        return true;
    while (true) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        if (i + 1 >= s.size() || !IsHex(s[i]) || !IsHex(s[i + 1]))
            return false;
        out += static_cast<char>(HexValue(s[i]) * 16 + HexValue(s[i + 1]));
        i += 2;
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        if (i == s.size())
            return true;
        if (s[i] != ',')
            return false;
        ++i;
        if (TrimBlanks(s.substr(i)).empty())
            return true; // a trailing comma, as long exports sometimes end
    }
}

// Text after a UTF-8 byte-order mark, as text in the code page.
bool DecodeBomUtf8(std::string_view bytes, std::string& text, std::string& error) {
    std::u16string units;
    int line = 1;
    for (size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const int length = DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes.data()) + i,
                                      bytes.size() - i, cp);
        if (length <= 0) {
            error = LineError(line,
                              "the file starts with a UTF-8 byte-order mark but is not UTF-8 text");
            return false;
        }
        if (cp == U'\n')
            ++line;
        if (cp >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(cp);
        }
        i += static_cast<size_t>(length);
    }
    std::string le;
    le.reserve(units.size() * 2);
    for (char16_t u : units) {
        le += static_cast<char>(u & 0xFF);
        le += static_cast<char>(u >> 8);
    }
    return DecodeUtf16(le, text, error);
}

// The file's bytes as text in the code page: UTF-16 (with or without its mark, as the 5.00
// form is written), UTF-8 after its mark (as text editors save it), else the bytes as they are.
bool DecodeRegFileText(std::string_view bytes, std::string& text, std::string& error) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        return DecodeUtf16(bytes.substr(2), text, error);
    if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0)
        return DecodeUtf16(bytes, text, error);
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return DecodeBomUtf8(bytes.substr(3), text, error);
    text.assign(bytes);
    return true;
}

// Lines without their LF or CR LF.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (nl == text.npos)
            break;
        text.remove_prefix(nl + 1);
    }
    return lines;
}

// "[ROOT\path]" or "[-ROOT\path]".
bool ParseKeyLine(std::string_view line, int lineNo, RegFileKey& key, std::string& error) {
    if (line.back() != ']') {
        error = LineError(lineNo, "a key line must end with \"]\"");
        return false;
    }
    std::string_view name = line.substr(1, line.size() - 2);
    key.Line = lineNo;
    if (!name.empty() && name.front() == '-') {
        key.Delete = true;
        name.remove_prefix(1);
    }
    const size_t slash = name.find('\\');
    key.Root = RegRootFromName(name.substr(0, slash));
    if (!key.Root) {
        error = LineError(lineNo, "unknown root key in \"" + std::string(name) + "\"");
        return false;
    }
    if (slash != name.npos)
        key.Path = std::string(name.substr(slash + 1));
    while (!key.Path.empty() && key.Path.back() == '\\')
        key.Path.pop_back();
    if (key.Path.find("\\\\") != std::string::npos ||
        (!key.Path.empty() && key.Path.front() == '\\')) {
        error = LineError(lineNo, "empty key name in \"" + std::string(name) + "\"");
        return false;
    }
    return true;
}

bool ParseDword(std::string_view digits, int lineNo, RegFileValue& value, std::string& error) {
    uint32_t v = 0;
    bool ok = !digits.empty() && digits.size() <= 8;
    for (char c : digits) {
        ok = ok && IsHex(c);
        if (ok)
            v = v * 16 + static_cast<uint32_t>(HexValue(c));
    }
    if (!ok) {
        error = LineError(lineNo, "a dword needs 1 to 8 hexadecimal digits");
        return false;
    }
    value.Type = REG_DWORD;
    for (int b = 0; b < 4; ++b)
        value.Data += static_cast<char>((v >> (8 * b)) & 0xff);
    return true;
}

// "hex:…" or "hex(type):…", the bytes going on over continuation lines that end in a
// backslash; `next` is the index of the line after this one and moves past those lines.
bool ParseHex(std::string_view data, const std::vector<std::string_view>& lines, size_t& next,
              bool unicode, int lineNo, RegFileValue& value, std::string& error) {
    const size_t colon = data.find(':');
    if (colon == data.npos) {
        error = LineError(lineNo, "expected \":\" after hex");
        return false;
    }
    const std::string_view kind = data.substr(3, colon - 3);
    value.Type = REG_BINARY;
    if (!kind.empty()) {
        bool ok =
            kind.size() >= 3 && kind.size() <= 10 && kind.front() == '(' && kind.back() == ')';
        uint32_t t = 0;
        for (char c : ok ? kind.substr(1, kind.size() - 2) : std::string_view()) {
            ok = ok && IsHex(c);
            if (ok)
                t = t * 16 + static_cast<uint32_t>(HexValue(c));
        }
        if (!ok) {
            error = LineError(lineNo, "malformed hex(type)");
            return false;
        }
        value.Type = t;
    }
    std::string all;
    std::string_view part = data.substr(colon + 1);
    while (true) {
        part = TrimBlanks(part);
        const bool more = !part.empty() && part.back() == '\\';
        if (more)
            part.remove_suffix(1);
        all += part;
        if (!more)
            break;
        if (next >= lines.size()) {
            error = LineError(lineNo, "the file ends inside a continued value");
            return false;
        }
        part = lines[next++];
    }
    if (!ParseHexBytes(all, value.Data)) {
        error = LineError(lineNo, "malformed hexadecimal bytes");
        return false;
    }
    if (unicode && IsTextType(value.Type)) {
        std::string text;
        if (!Utf16BytesToAnsi(value.Data, text)) {
            error = LineError(lineNo, "text data that is not 8-bit UTF-16 text");
            return false;
        }
        value.Data = std::move(text);
    }
    return true;
}

// "name"=data or @=data, where data is -, "text", dword:… or hex…:….
bool ParseValueLine(std::string_view line, const std::vector<std::string_view>& lines, size_t& next,
                    bool unicode, int lineNo, RegFileValue& value, std::string& error) {
    value.Line = lineNo;
    size_t pos = 0;
    if (line.front() == '@') {
        pos = 1;
    } else if (!ParseQuoted(line, pos, value.Name)) {
        error = LineError(lineNo, "unterminated value name");
        return false;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    if (pos >= line.size() || line[pos] != '=') {
        error = LineError(lineNo, "expected \"=\" after the value name");
        return false;
    }
    const std::string_view data = TrimBlanks(line.substr(pos + 1));
    if (data == "-") {
        value.Delete = true;
        return true;
    }
    if (!data.empty() && data.front() == '"') {
        size_t p = 0;
        std::string text;
        if (!ParseQuoted(data, p, text) || !TrimBlanks(data.substr(p)).empty()) {
            error = LineError(lineNo, "malformed string data");
            return false;
        }
        value.Type = REG_SZ;
        value.Data = text + '\0';
        return true;
    }
    if (data.substr(0, 6) == "dword:")
        return ParseDword(data.substr(6), lineNo, value, error);
    if (data.substr(0, 3) == "hex")
        return ParseHex(data, lines, next, unicode, lineNo, value, error);
    error = LineError(lineNo, "unrecognised value data");
    return false;
}

} // namespace

bool ParseRegFile(std::string_view bytes, RegFile& out, std::string& error) {
    std::string text;
    if (!DecodeRegFileText(bytes, text, error))
        return false;
    const std::vector<std::string_view> lines = SplitLines(text);

    RegFile file;
    bool unicode = false, sawHeader = false;
    for (size_t next = 0; next < lines.size();) {
        const int lineNo = static_cast<int>(next) + 1;
        const std::string_view line = TrimBlanks(lines[next++]);
        if (!sawHeader) {
            if (line.empty())
                continue;
            if (line == kHeader5) {
                unicode = true;
            } else if (line != kHeader4) {
                error = LineError(lineNo, "not a registry file: the first line must be \"" +
                                              std::string(kHeader5) + "\" or \"REGEDIT4\"");
                return false;
            }
            sawHeader = true;
            continue;
        }
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            RegFileKey key;
            if (!ParseKeyLine(line, lineNo, key, error))
                return false;
            file.Keys.push_back(std::move(key));
            continue;
        }
        if (line.front() != '"' && line.front() != '@') {
            error = LineError(lineNo, "expected a key in brackets or a value");
            return false;
        }
        if (file.Keys.empty() || file.Keys.back().Delete) {
            error = LineError(lineNo, "a value outside any key");
            return false;
        }
        RegFileValue value;
        if (!ParseValueLine(line, lines, next, unicode, lineNo, value, error))
            return false;
        file.Keys.back().Values.push_back(std::move(value));
    }
    if (!sawHeader) {
        error = LineError(1, "not a registry file: it is empty");
        return false;
    }
    out = std::move(file);
    return true;
}

} // namespace ferry
