#include "core/byte_search.h"

#include "platform/codepage.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ferry {

namespace {

// The other byte, if any, whose upper case is `upper` (upper-case bytes fold to themselves).
unsigned char LowerPartner(unsigned char upper) {
    const unsigned char* table = CharUpperTable();
    for (int b = 0; b < 256; ++b)
        if (b != upper && table[b] == upper)
            return static_cast<unsigned char>(b);
    return upper;
}

template <bool Folded>
bool SameAt(const unsigned char* data, const unsigned char* pattern, std::size_t length) {
    if constexpr (!Folded) {
        return std::memcmp(data, pattern, length) == 0;
    } else {
        const unsigned char* table = CharUpperTable();
        for (std::size_t i = 0; i < length; ++i)
            if (table[data[i]] != pattern[i])
                return false;
        return true;
    }
}

// Candidates are the positions whose first and last byte both fit; 16 of them are tested
// at once, so text is filtered at memory speed and only real near-misses are compared.
template <bool Folded>
std::size_t Find(const unsigned char* data, std::size_t size, const unsigned char* pattern,
                 std::size_t length, const unsigned char first[2], const unsigned char last[2]) {
    if (length == 0 || size < length)
        return BytePattern::npos;
    const std::size_t lastStart = size - length;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i f0 = _mm_set1_epi8(static_cast<char>(first[0]));
    const __m128i f1 = _mm_set1_epi8(static_cast<char>(first[1]));
    const __m128i l0 = _mm_set1_epi8(static_cast<char>(last[0]));
    const __m128i l1 = _mm_set1_epi8(static_cast<char>(last[1]));
    const std::size_t tail = length - 1;
    for (; i + 16 <= lastStart + 1; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + tail));
        __m128i hitFirst = _mm_cmpeq_epi8(a, f0);
        __m128i hitLast = _mm_cmpeq_epi8(b, l0);
        if constexpr (Folded) {
            hitFirst = _mm_or_si128(hitFirst, _mm_cmpeq_epi8(a, f1));
            hitLast = _mm_or_si128(hitLast, _mm_cmpeq_epi8(b, l1));
        }
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(hitFirst, hitLast)));
        while (mask) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
            if (SameAt<Folded>(data + at, pattern, length))
                return at;
            mask &= mask - 1;
        }
    }
#endif
    for (; i <= lastStart; ++i) {
        const unsigned char a = data[i], b = data[i + length - 1];
        if ((a == first[0] || a == first[1]) && (b == last[0] || b == last[1]) &&
            SameAt<Folded>(data + i, pattern, length))
            return i;
    }
    return BytePattern::npos;
}

} // namespace

BytePattern::BytePattern(const std::string& pattern, bool caseSensitive)
    : Pattern_(caseSensitive ? pattern : CharUpperString(pattern)), Folded_(!caseSensitive),
      HasNul_(pattern.find('\0') != std::string::npos) {
    const unsigned char f = Pattern_.empty() ? 0 : static_cast<unsigned char>(Pattern_.front());
    const unsigned char l = Pattern_.empty() ? 0 : static_cast<unsigned char>(Pattern_.back());
    First_[0] = First_[1] = f;
    Last_[0] = Last_[1] = l;
    if (Folded_) {
        First_[1] = LowerPartner(f);
        Last_[1] = LowerPartner(l);
    }
}

std::size_t BytePattern::FindIn(const unsigned char* data, std::size_t size) const {
    if (HasNul_)
        return npos;
    const auto* pattern = reinterpret_cast<const unsigned char*>(Pattern_.data());
    if (!Folded_ && Pattern_.size() == 1) {
        const void* hit = std::memchr(data, pattern[0], size);
        return hit ? static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - data) : npos;
    }
    return Folded_ ? Find<true>(data, size, pattern, Pattern_.size(), First_, Last_)
                   : Find<false>(data, size, pattern, Pattern_.size(), First_, Last_);
}

} // namespace ferry
