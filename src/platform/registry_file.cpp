#include "platform/registry_file.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstdio>

namespace ferry {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

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

std::string AnsiToUtf16Bytes(std::string_view in) {
    const std::u16string units = SystemCodePage().ToUtf16(in);
    std::string out(units.size() * 2, '\0');
    char* to = out.data();
    for (char16_t u : units) {
        *to++ = static_cast<char>(u & 0xff);
        *to++ = static_cast<char>(u >> 8);
    }
    return out;
}

bool IsTextType(DWORD t) {
    return t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ;
}

// Bytes of the character at s[pos] in the code page: in Shift JIS, GBK and Big5 a second
// byte may be a backslash (0x5C), which must not escape what follows.
size_t CharAt(std::string_view s, size_t pos) {
    const size_t n = SystemCodePage().CharLength(
        reinterpret_cast<const unsigned char*>(s.data()) + pos, s.size() - pos);
    return n == 0 ? 1 : n;
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

// Appends s in quotes, a backslash before each backslash and quote. In a multi-byte code page
// a character's trail byte may be a backslash and is never escaped.
void AppendQuoted(std::string& out, std::string_view s) {
    out += '"';
    if (SystemCodePage().IsMultiByte()) {
        for (size_t i = 0; i < s.size(); ++i) {
            if (const size_t n = CharAt(s, i); n > 1) {
                out.append(s.substr(i, n));
                i += n - 1;
                continue;
            }
            if (s[i] == '\\' || s[i] == '"')
                out += '\\';
            out += s[i];
        }
        out += '"';
        return;
    }
    for (size_t at = 0; at < s.size();) {
        const size_t special = std::min(s.find_first_of("\\\"", at), s.size());
        out.append(s, at, special - at);
        if (special < s.size()) {
            out += '\\';
            out += s[special];
        }
        at = special + 1;
    }
    out += '"';
}

std::string Quote(std::string_view s) {
    std::string out;
    AppendQuoted(out, s);
    return out;
}

bool HasLineBreak(std::string_view s) {
    return s.find('\n') != s.npos || s.find('\r') != s.npos;
}

std::string HexLine(std::string head, const std::string& data) {
    static const char* digits = "0123456789abcdef";
    size_t col = head.size();
    for (size_t i = 0; i < data.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(data[i]);
        head += digits[b >> 4];
        head += digits[b & 15];
        col += 2;
        if (i + 1 < data.size()) {
            head += ',';
            ++col;
            if (col > 76) {
                head += "\\\r\n  ";
                col = 2;
            }
        }
    }
    return head;
}

} // namespace

std::string RegFullKeyName(HKEY root, const std::string& path) {
    std::string name = RegRootName(root);
    return path.empty() ? name : name + "\\" + path;
}

namespace {

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

} // namespace

namespace {

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

bool WriteRegFile(const RegFile& file, bool unicode, std::string& bytes, std::string& error) {
    std::string text = std::string(unicode ? kHeader5 : kHeader4) + "\r\n\r\n";
    for (const RegFileKey& key : file.Keys) {
        std::string full = RegFullKeyName(key.Root, key.Path);
        if (HasLineBreak(full)) {
            error = "the key name \"" + full + "\" holds a line break, which a .reg file cannot";
            return false;
        }
        text += (key.Delete ? "[-" : "[") + full + "]\r\n";
        for (const RegFileValue& v : key.Values) {
            if (HasLineBreak(v.Name)) {
                error = "a value name under \"" + full + "\" holds a line break";
                return false;
            }
            std::string head = (v.Name.empty() ? std::string("@") : Quote(v.Name)) + "=";
            if (v.Delete) {
                text += head + "-\r\n";
                continue;
            }
            const std::string& d = v.Data;
            bool plainString = v.Type == REG_SZ && !d.empty() && d.back() == '\0' &&
                               d.find('\0') == d.size() - 1 && !HasLineBreak(d);
            if (plainString) {
                text += head;
                AppendQuoted(text, std::string_view(d).substr(0, d.size() - 1));
                text += "\r\n";
            } else if (v.Type == REG_DWORD && d.size() == 4) {
                uint32_t x = 0;
                for (int b = 3; b >= 0; --b)
                    x = (x << 8) | static_cast<unsigned char>(d[static_cast<size_t>(b)]);
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x", x);
                text += head + buf + "\r\n";
            } else {
                char kind[24];
                if (v.Type == REG_BINARY)
                    std::snprintf(kind, sizeof kind, "hex:");
                else
                    std::snprintf(kind, sizeof kind, "hex(%x):", v.Type);
                std::string data = unicode && IsTextType(v.Type) ? AnsiToUtf16Bytes(d) : d;
                text += HexLine(head + kind, data) + "\r\n";
            }
        }
        text += "\r\n";
    }
    if (unicode)
        bytes = "\xFF\xFE" + AnsiToUtf16Bytes(text);
    else
        bytes = std::move(text);
    return true;
}

namespace {

LONG CollectKey(HKEY root, HKEY key, const std::string& path, RegFile& out) {
    RegFileKey entry;
    entry.Root = root;
    entry.Path = path;
    std::vector<std::string> subkeys;
    {
        // One key's walk is one reading: whether the hive changed is asked once, not per value.
        RegReadingScope reading;
        for (DWORD i = 0;; ++i) {
            RegFileValue v;
            LONG r = RegEnumValue(key, i, v.Name, &v.Type, &v.Data);
            if (r == ERROR_NO_MORE_ITEMS)
                break;
            if (r != ERROR_SUCCESS)
                return r;
            entry.Values.push_back(std::move(v));
        }
        for (DWORD i = 0;; ++i) {
            std::string name;
            LONG r = RegEnumKeyEx(key, i, name);
            if (r == ERROR_NO_MORE_ITEMS)
                break;
            if (r != ERROR_SUCCESS)
                return r;
            subkeys.push_back(std::move(name));
        }
    }
    out.Keys.push_back(std::move(entry));
    for (const std::string& name : subkeys) {
        HKEY sub = nullptr;
        LONG r = RegOpenKeyEx(key, name.c_str(), 0, KEY_READ, &sub);
        if (r != ERROR_SUCCESS)
            return r;
        r = CollectKey(root, sub, path.empty() ? name : path + "\\" + name, out);
        RegCloseKey(sub);
        if (r != ERROR_SUCCESS)
            return r;
    }
    return ERROR_SUCCESS;
}

} // namespace

LONG CollectRegTree(HKEY root, const std::string& path, RegFile& out) {
    HKEY key = nullptr;
    LONG r = RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key);
    if (r != ERROR_SUCCESS)
        return r;
    r = CollectKey(root, key, path, out);
    RegCloseKey(key);
    return r;
}

namespace {

LONG ApplyKeys(const RegFile& file, HTRANSACTION tx, std::string& error) {
    for (const RegFileKey& key : file.Keys) {
        std::string full = RegFullKeyName(key.Root, key.Path);
        if (key.Delete) {
            HKEY root = nullptr;
            LONG r = key.Path.empty()
                         ? ERROR_ACCESS_DENIED
                         : RegOpenKeyTransacted(key.Root, "", 0, KEY_ALL_ACCESS, &root, tx);
            if (r == ERROR_SUCCESS) {
                r = RegDeleteTree(root, key.Path.c_str());
                RegCloseKey(root);
            }
            if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) {
                error = "cannot delete " + full + ": " + RegLastErrorText();
                return r;
            }
            continue;
        }
        HKEY h = nullptr;
        LONG r = RegCreateKeyTransacted(key.Root, key.Path.c_str(), REG_OPTION_NON_VOLATILE,
                                        KEY_ALL_ACCESS, &h, nullptr, tx);
        if (r != ERROR_SUCCESS) {
            error = "cannot create " + full + ": " + RegLastErrorText();
            return r;
        }
        for (const RegFileValue& v : key.Values) {
            r = v.Delete ? RegDeleteValue(h, v.Name.c_str())
                         : RegSetValue(h, v.Name, v.Type, v.Data);
            if (v.Delete && r == ERROR_FILE_NOT_FOUND)
                r = ERROR_SUCCESS;
            if (r != ERROR_SUCCESS) {
                error =
                    "cannot write value \"" + v.Name + "\" of " + full + ": " + RegLastErrorText();
                RegCloseKey(h);
                return r;
            }
        }
        RegCloseKey(h);
    }
    return ERROR_SUCCESS;
}

} // namespace

LONG ApplyRegFile(const RegFile& file, std::string& error) {
    // One transaction: a file that fails part-way, or a process killed during it, changes
    // nothing.
    HTRANSACTION tx = nullptr;
    LONG r = RegCreateTransaction(&tx);
    if (r != ERROR_SUCCESS) {
        error = RegLastErrorText();
        return r;
    }
    r = ApplyKeys(file, tx, error);
    if (r == ERROR_SUCCESS && (r = RegCommitTransaction(tx)) != ERROR_SUCCESS)
        error = "cannot store the changes: " + RegLastErrorText();
    RegCloseTransaction(tx);
    return r;
}

} // namespace ferry
