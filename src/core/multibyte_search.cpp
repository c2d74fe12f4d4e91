#include "core/multibyte_search.h"

#include "platform/multibyte_charset.h"

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
    const MultiByteCharset& set = *CodePage_.MultiByte();
    const std::size_t length = Pattern_.size();
    const unsigned char* haystack = data;
    if (Folded_) {
        // Upper-casing keeps every character's length, so positions stay those of the data.
        Scratch_.assign(data, data + size);
        set.Upper(Scratch_.data(), size);
        haystack = Scratch_.data();
    }

    // Whether a candidate begins a character: told by the bytes before it where the set
    // allows, else by one walk from the start, front to back, as far as the candidates need.
    std::size_t walk = 0;
    auto startsCharacter = [&](std::size_t at) {
        if (set.Resyncs())
            return set.LastBoundary(data, size, at) == at;
        while (walk < at) {
            const std::size_t n = set.CharLength(data + walk, size - walk);
            if (n == 0)
                return false; // a character cut off by the block's end
            walk += n;
        }
        return walk == at;
    };
    auto endsCharacter = [&](std::size_t from, std::size_t end) {
        while (from < end) {
            const std::size_t n = set.CharLength(data + from, size - from);
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
            if (startsCharacter(at) && endsCharacter(at, at + length))
                return at;
            from = at + 1;
        }
    }
    next = set.LastBoundary(data, size, size >= length ? size - length + 1 : 0);
    return npos;
}

} // namespace ferry
