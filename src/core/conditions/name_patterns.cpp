#include "core/conditions/name_patterns.h"

namespace ferry {

namespace {

// Two indices and one place to go back to: time grows with name times pattern at worst,
// never exponentially, however many stars.
bool Wildcard(const std::u32string& pattern, const std::u32string& name) {
    std::size_t p = 0, n = 0;
    std::size_t star = std::u32string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (star != std::u32string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*')
        ++p;
    return p == pattern.size();
}

} // namespace

NamePatterns::NamePatterns(std::string_view text, const TextReader& reader) : Reader_(reader) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::size_t from = start, to = end;
        while (from < to) {
            const std::size_t space = Reader_.SpaceAt(bytes + from, to - from);
            if (space == 0)
                break;
            from += space;
        }
        // Trailing white space: walk forward, remembering where the last non-space ended.
        std::size_t last = from;
        for (std::size_t i = from; i < to;) {
            const std::size_t space = Reader_.SpaceAt(bytes + i, to - i);
            if (space) {
                i += space;
                continue;
            }
            char32_t cp;
            i += Reader_.Decode(bytes + i, to - i, cp);
            last = i;
        }
        to = last;
        if (from < to) {
            std::u32string pattern = Fold(text.substr(from, to - from));
            if (pattern == U"*.*" || pattern == U"*") {
                Patterns_.clear();
                return;
            }
            Patterns_.push_back(std::move(pattern));
        }
        start = end + 1;
    }
}

std::u32string NamePatterns::Fold(std::string_view text) const {
    std::u32string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        i += Reader_.Decode(p + i, text.size() - i, cp);
        out += FoldChar(cp);
    }
    return out;
}

bool NamePatterns::Matches(std::string_view name) const {
    if (Patterns_.empty())
        return true;
    const std::u32string folded = Fold(name);
    for (const std::u32string& pattern : Patterns_)
        if (Wildcard(pattern, folded))
            return true;
    return false;
}

} // namespace ferry
