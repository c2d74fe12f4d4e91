// The file-name patterns of task conditions against the slow, obvious way: split at ';',
// trim white space, fold every character, and match '*' and '?' by a table over all prefixes
// of pattern and name.
//
// Input: one byte choosing the code page (odd: UTF-8, even: Windows-1252), the patterns, a
// NUL, the name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/conditions/name_patterns.h"

using namespace ferry;

namespace {

std::u32string Folded(const TextReader& reader, const std::string& text) {
    std::u32string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        i += reader.Decode(p + i, text.size() - i, cp);
        out += FoldChar(cp);
    }
    return out;
}

bool Table(const std::u32string& pattern, const std::u32string& name) {
    const std::size_t m = pattern.size(), n = name.size();
    std::vector<std::vector<char>> ok(m + 1, std::vector<char>(n + 1, 0));
    ok[0][0] = 1;
    for (std::size_t i = 1; i <= m; ++i)
        for (std::size_t j = 0; j <= n; ++j) {
            const char32_t c = pattern[i - 1];
            if (c == U'*')
                ok[i][j] = ok[i - 1][j] || (j > 0 && ok[i][j - 1]);
            else if (j > 0)
                ok[i][j] = ok[i - 1][j - 1] && (c == U'?' || c == name[j - 1]);
        }
    return ok[m][n];
}

bool Space(char32_t c) {
    return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == U'\v' || c == U'\f' ||
           c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool Reference(const TextReader& reader, const std::string& patterns, const std::string& name) {
    std::vector<std::u32string> parts;
    std::u32string part;
    const std::u32string all = Folded(reader, patterns) + U";";
    for (char32_t c : all) {
        if (c != U';') {
            part += c;
            continue;
        }
        std::size_t a = 0, b = part.size();
        while (a < b && Space(part[a]))
            ++a;
        while (b > a && Space(part[b - 1]))
            --b;
        if (a < b)
            parts.push_back(part.substr(a, b - a));
        part.clear();
    }
    if (parts.empty())
        return true;
    const std::u32string folded = Folded(reader, name);
    for (const std::u32string& p : parts)
        if (p == U"*.*" || Table(p, folded))
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 512)
        return 0;
    const TextReader reader(data[0] & 1 ? CodePage::Utf8() : CodePage::Windows1252());
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t nul = input.find('\0');
    const std::string patterns = input.substr(0, nul);
    const std::string name = nul == std::string::npos ? "" : input.substr(nul + 1);
    if (NamePatterns(patterns, reader).Matches(name) != Reference(reader, patterns, name))
        std::abort();
    return 0;
}
