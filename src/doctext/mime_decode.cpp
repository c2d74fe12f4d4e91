#include "doctext/mime_decode.h"

#include "doctext/charset.h"

namespace ferry {

namespace {

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// An encoded word starting at `at`: its decoded UTF-8 and where it ends. False when the
// bytes there are no encoded word.
bool EncodedWord(std::string_view s, std::size_t at, std::string& text, std::size_t& end) {
    if (s.compare(at, 2, "=?") != 0)
        return false;
    const std::size_t q1 = s.find('?', at + 2);
    if (q1 == std::string_view::npos || q1 + 3 >= s.size() || s[q1 + 2] != '?')
        return false;
    const char enc = s[q1 + 1];
    if (enc != 'B' && enc != 'b' && enc != 'Q' && enc != 'q')
        return false;
    const std::size_t close = s.find("?=", q1 + 3);
    if (close == std::string_view::npos)
        return false;
    std::string_view charset = s.substr(at + 2, q1 - at - 2);
    charset = charset.substr(0, charset.find('*')); // a language tag may follow
    const std::string_view payload = s.substr(q1 + 3, close - q1 - 3);
    // The charset is a token and the text has no white space: "=? x?Q?y?=" is plain text.
    if (charset.empty() ||
        charset.find_first_of(" \t\r\n()<>@,;:\"/[]?.=") != std::string_view::npos ||
        payload.find_first_of(" \t\r\n") != std::string_view::npos)
        return false;
    const std::string bytes =
        (enc == 'B' || enc == 'b') ? DecodeBase64(payload) : DecodeQuotedPrintable(payload, true);
    text = ToUtf8(bytes, charset);
    end = close + 2;
    return true;
}

} // namespace

std::string DecodeBase64(std::string_view in) {
    std::string out;
    out.reserve(in.size() / 4 * 3);
    uint32_t acc = 0;
    int bits = 0;
    for (unsigned char c : in) {
        if (c == '=')
            break;
        const int v = Base64Value(c);
        if (v < 0)
            continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

std::string DecodeQuotedPrintable(std::string_view in, bool header) {
    std::string out;
    out.reserve(in.size());
    std::size_t pendingSpace = 0; // white space kept back until it is known not to end a line
    for (std::size_t i = 0; i < in.size(); ++i) {
        const unsigned char c = in[i];
        if (c == ' ' || c == '\t') {
            ++pendingSpace;
            continue;
        }
        if (c == '\r' || c == '\n') {
            pendingSpace = 0;
            out += static_cast<char>(c);
            continue;
        }
        out.append(in.substr(i - pendingSpace, pendingSpace));
        pendingSpace = 0;
        if (c == '_' && header) {
            out += ' ';
        } else if (c == '=') {
            const int hi = i + 1 < in.size() ? HexValue(in[i + 1]) : -1;
            const int lo = i + 2 < in.size() ? HexValue(in[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
            // A soft line break: "=" then optional white space, then the line's end.
            std::size_t j = i + 1;
            while (j < in.size() && (in[j] == ' ' || in[j] == '\t'))
                ++j;
            if (j == in.size()) {
                i = j;
            } else if (in[j] == '\n' || in[j] == '\r') {
                if (in[j] == '\r' && j + 1 < in.size() && in[j + 1] == '\n')
                    ++j;
                i = j;
            } else {
                out += '='; // not an escape: kept as it stands
            }
        } else {
            out += static_cast<char>(c);
        }
    }
    out.append(pendingSpace, ' ');
    return out;
}

std::string DecodeHeaderWords(std::string_view value) {
    std::string out, raw;
    auto flushRaw = [&] {
        if (!raw.empty())
            out += ToUtf8(raw, "");
        raw.clear();
    };
    bool lastWasEncoded = false;
    std::size_t i = 0;
    while (i < value.size()) {
        std::string text;
        std::size_t end = 0;
        if (EncodedWord(value, i, text, end)) {
            // White space between two encoded words is only there to fold the line.
            if (lastWasEncoded && raw.find_first_not_of(" \t\r\n") == std::string::npos)
                raw.clear();
            flushRaw();
            out += text;
            i = end;
            lastWasEncoded = true;
            continue;
        }
        const char c = value[i++];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            lastWasEncoded = false;
        raw += c;
    }
    flushRaw();
    return out;
}

} // namespace ferry
