#include "core/multibyte_search.h"

namespace ferry {

namespace {

std::string UpperCased(const CodePage& codePage, std::string text) {
    codePage.UpperInPlace(text.data(), text.size());
    return text;
}

} // namespace

MultiBytePattern::MultiBytePattern(const CodePage& codePage, const std::string& pattern,
                                   bool caseSensitive)
    : CodePage_(codePage), Pattern_(caseSensitive ? pattern : UpperCased(codePage, pattern)),
      Folded_(!caseSensitive), HasNul_(pattern.find('\0') != std::string::npos),
      Bytes_(Pattern_, true) {}

std::size_t MultiBytePattern::FindIn(const unsigned char* data, std::size_t size,
                                     std::size_t& next) const {
    const std::size_t length = Pattern_.size();
    const std::size_t target = size >= length ? size - length + 1 : 0;
    const unsigned char* haystack = data;
    if (Folded_) {
        // Upper-casing keeps every character's length, so positions stay those of the data.
        Scratch_.assign(data, data + size);
        CodePage_.UpperInPlace(reinterpret_cast<char*>(Scratch_.data()), size);
        haystack = Scratch_.data();
    }

    // The character boundaries are walked once, front to back, as far as the candidates
    // need; `below` is the last one at or before `target`.
    std::size_t walk = 0, below = 0;
    auto advanceTo = [&](std::size_t position) {
        while (walk < position) {
            const std::size_t n = CodePage_.CharLength(data + walk, size - walk);
            if (n == 0) {
                walk = size + 1; // a character cut off by the block's end
                return;
            }
            walk += n;
            if (walk <= target)
                below = walk;
        }
    };
    auto endsCharacter = [&](std::size_t from, std::size_t end) {
        while (from < end) {
            const std::size_t n = CodePage_.CharLength(data + from, size - from);
            if (n == 0)
                return false;
            from += n;
        }
        return from == end;
    };

    if (!HasNul_ && length > 0) {
        for (std::size_t from = 0; from + length <= size;) {
            std::size_t at = Bytes_.FindIn(haystack + from, size - from);
            if (at == BytePattern::npos)
                break;
            at += from;
            advanceTo(at);
            if (walk == at && endsCharacter(at, at + length))
                return at;
            from = at + 1;
        }
    }
    advanceTo(target);
    next = below;
    return npos;
}

} // namespace ferry
