#include "ferrydesk-reg/reg_file.h"
#include "ferrydesk-reg/reg_file_text.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstdio>

namespace ferry {

using namespace reg_file;

namespace {

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
