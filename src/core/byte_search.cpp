#include "core/byte_search.h"

#include "core/byte_rank.h"
#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ferry {

namespace {

// For each upper-case byte, the other byte, if any, whose upper case it is, and how many
// such bytes there are (two for Turkish i, dotless i and I).
struct Partners {
    unsigned char Partner[256];
    unsigned char Count[256] = {};
    explicit Partners(const unsigned char* table) {
        for (int b = 0; b < 256; ++b)
            Partner[b] = static_cast<unsigned char>(b);
        for (int b = 0; b < 256; ++b)
            if (table[b] != b && Count[table[b]]++ == 0)
                Partner[table[b]] = static_cast<unsigned char>(b);
    }
};

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

// What the vector loops need: the pattern and, for the two bytes tested (at offsets FirstAt
// and LastAt of a start position), the data bytes that compare equal to it. When those differ in
// one bit only (a/A, s caron and its capital), one OR and one compare test both.
struct Search {
    const unsigned char* Pattern;
    std::size_t Length;
    bool Folded;
    std::size_t FirstAt, LastAt;
    unsigned char First[2], Last[2];
    unsigned char FirstBit, LastBit; // the differing bit, 0 when the two are equal
    bool SingleBit;                  // both sides can use the OR trick
};

// Candidates are start positions whose two tested bytes fit; this checks the ones a
// vector loop marked in `mask` (bit k = position base + k), in order.
__attribute__((noinline)) std::size_t Verify(const unsigned char* data, std::size_t base,
                                             uint64_t mask, const Search& s) {
    while (mask) {
        const std::size_t at = base + static_cast<std::size_t>(__builtin_ctzll(mask));
        if (s.Folded ? SameAt<true>(data + at, s.Pattern, s.Length)
                     : SameAt<false>(data + at, s.Pattern, s.Length))
            return at;
        mask &= mask - 1;
    }
    return BytePattern::npos;
}

std::size_t FindScalar(const unsigned char* data, std::size_t i, std::size_t lastStart,
                       const Search& s) {
    for (; i <= lastStart; ++i) {
        const unsigned char a = data[i + s.FirstAt], b = data[i + s.LastAt];
        if ((a == s.First[0] || a == s.First[1]) && (b == s.Last[0] || b == s.Last[1]) &&
            Verify(data, i, 1, s) != BytePattern::npos)
            return i;
    }
    return BytePattern::npos;
}

#if defined(__x86_64__)

// Pair: test each side against two bytes; otherwise one OR and one compare per side.
template <bool Pair>
__attribute__((target("avx2"), always_inline)) inline __m256i
Hits32(const unsigned char* p, std::size_t firstAt, std::size_t lastAt, __m256i f0, __m256i f1,
       __m256i l0, __m256i l1, __m256i fb, __m256i lb, __m256i ft, __m256i lt) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + firstAt));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + lastAt));
    if constexpr (Pair)
        return _mm256_and_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(a, f0), _mm256_cmpeq_epi8(a, f1)),
            _mm256_or_si256(_mm256_cmpeq_epi8(b, l0), _mm256_cmpeq_epi8(b, l1)));
    else
        return _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a, fb), ft),
                                _mm256_cmpeq_epi8(_mm256_or_si256(b, lb), lt));
}

template <bool Pair>
__attribute__((target("avx2"))) std::size_t FindAvx2(const unsigned char* data,
                                                     std::size_t lastStart, const Search& s) {
    const std::size_t firstAt = s.FirstAt, lastAt = s.LastAt;
    const __m256i f0 = _mm256_set1_epi8(static_cast<char>(s.First[0]));
    const __m256i f1 = _mm256_set1_epi8(static_cast<char>(s.First[1]));
    const __m256i l0 = _mm256_set1_epi8(static_cast<char>(s.Last[0]));
    const __m256i l1 = _mm256_set1_epi8(static_cast<char>(s.Last[1]));
    const __m256i fb = _mm256_set1_epi8(static_cast<char>(s.FirstBit));
    const __m256i lb = _mm256_set1_epi8(static_cast<char>(s.LastBit));
    const __m256i ft = _mm256_or_si256(f0, fb);
    const __m256i lt = _mm256_or_si256(l0, lb);
    std::size_t i = 0;
    for (; i + 64 <= lastStart + 1; i += 64) {
        const __m256i m0 = Hits32<Pair>(data + i, firstAt, lastAt, f0, f1, l0, l1, fb, lb, ft, lt);
        const __m256i m1 =
            Hits32<Pair>(data + i + 32, firstAt, lastAt, f0, f1, l0, l1, fb, lb, ft, lt);
        if (!_mm256_testz_si256(_mm256_or_si256(m0, m1), _mm256_or_si256(m0, m1))) {
            const uint64_t mask =
                static_cast<uint32_t>(_mm256_movemask_epi8(m0)) |
                (static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(m1))) << 32);
            const std::size_t at = Verify(data, i, mask, s);
            if (at != BytePattern::npos)
                return at;
        }
    }
    return FindScalar(data, i, lastStart, s);
}

template <bool Pair>
std::size_t FindSse2(const unsigned char* data, std::size_t lastStart, const Search& s) {
    const std::size_t firstAt = s.FirstAt, lastAt = s.LastAt;
    const __m128i f0 = _mm_set1_epi8(static_cast<char>(s.First[0]));
    const __m128i f1 = _mm_set1_epi8(static_cast<char>(s.First[1]));
    const __m128i l0 = _mm_set1_epi8(static_cast<char>(s.Last[0]));
    const __m128i l1 = _mm_set1_epi8(static_cast<char>(s.Last[1]));
    const __m128i fb = _mm_set1_epi8(static_cast<char>(s.FirstBit));
    const __m128i lb = _mm_set1_epi8(static_cast<char>(s.LastBit));
    const __m128i ft = _mm_or_si128(f0, fb);
    const __m128i lt = _mm_or_si128(l0, lb);
    std::size_t i = 0;
    for (; i + 16 <= lastStart + 1; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + firstAt));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + lastAt));
        __m128i m;
        if constexpr (Pair)
            m = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(a, f0), _mm_cmpeq_epi8(a, f1)),
                              _mm_or_si128(_mm_cmpeq_epi8(b, l0), _mm_cmpeq_epi8(b, l1)));
        else
            m = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, fb), ft),
                              _mm_cmpeq_epi8(_mm_or_si128(b, lb), lt));
        if (const int mask = _mm_movemask_epi8(m)) {
            const std::size_t at = Verify(data, i, static_cast<uint32_t>(mask), s);
            if (at != BytePattern::npos)
                return at;
        }
    }
    return FindScalar(data, i, lastStart, s);
}

bool AllowWide = true;

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have && AllowWide;
}

#endif

std::size_t Find(const unsigned char* data, std::size_t size, const Search& s) {
    if (s.Length == 0 || size < s.Length)
        return BytePattern::npos;
    const std::size_t lastStart = size - s.Length;
#if defined(__x86_64__)
    if (HaveAvx2())
        return s.SingleBit ? FindAvx2<false>(data, lastStart, s)
                           : FindAvx2<true>(data, lastStart, s);
    return s.SingleBit ? FindSse2<false>(data, lastStart, s) : FindSse2<true>(data, lastStart, s);
#else
    return FindScalar(data, 0, lastStart, s);
#endif
}

bool OneBitOrNone(unsigned char x) {
    return (x & (x - 1)) == 0;
}

} // namespace

void AllowWideVectorsForTesting(bool allow) {
#if defined(__x86_64__)
    AllowWide = allow;
#endif
}

constexpr uint64_t kUntestable = uint64_t{1} << 40;

BytePattern::BytePattern(const std::string& pattern, bool caseSensitive)
    : Pattern_(caseSensitive ? pattern : CharUpperString(pattern)), Folded_(!caseSensitive),
      HasNul_(pattern.find('\0') != std::string::npos) {
    const std::size_t n = Pattern_.size();
    // Each offset's bytes in the data, and how common they are together.
    std::vector<std::array<unsigned char, 2>> bytes(n);
    std::vector<uint64_t> cost(n);
    bool many = false;
    const Partners partners(CharUpperTable());
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(Pattern_[i]);
        const bool more = Folded_ && partners.Count[b] > 1;
        bytes[i] = {b, Folded_ ? partners.Partner[b] : b};
        // A byte with many partners cannot be tested by the vector filter at all.
        cost[i] = ByteWeight(bytes[i][0]) + (bytes[i][1] != b ? ByteWeight(bytes[i][1]) : 0) +
                  (more ? kUntestable : 0);
        many = many || more;
    }
    // The rarest two offsets; among equals the first and last, whose distance also keeps
    // runs of one byte from passing both tests.
    if (n > 0) {
        std::size_t best = 0, second = n - 1;
        auto better = [&](std::size_t a, std::size_t b) { return cost[a] < cost[b]; };
        for (std::size_t i = 1; i < n; ++i)
            if (better(i, best))
                best = i;
        if (second == best)
            second = 0;
        for (std::size_t i = n; i-- > 0;)
            if (i != best && better(i, second))
                second = i;
        FirstAt_ = std::min(best, second);
        LastAt_ = std::max(best, second);
        if (n == 1)
            FirstAt_ = LastAt_ = 0;
        ManyPartners_ = many && (cost[FirstAt_] >= kUntestable || cost[LastAt_] >= kUntestable);
    }
    const std::array<unsigned char, 2> none{0, 0};
    const auto& f = n ? bytes[FirstAt_] : none;
    const auto& l = n ? bytes[LastAt_] : none;
    First_[0] = f[0];
    First_[1] = f[1];
    Last_[0] = l[0];
    Last_[1] = l[1];
}

std::size_t BytePattern::FindIn(const unsigned char* data, std::size_t size) const {
    if (HasNul_)
        return npos;
    const auto* pattern = reinterpret_cast<const unsigned char*>(Pattern_.data());
    if (!Folded_ && Pattern_.size() == 1) {
        const void* hit = std::memchr(data, pattern[0], size);
        return hit ? static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - data) : npos;
    }
    if (ManyPartners_) {
        // Rare code pages only: every position, each byte through the table.
        for (std::size_t i = 0; i + Pattern_.size() <= size; ++i)
            if (SameAt<true>(data + i, pattern, Pattern_.size()))
                return i;
        return npos;
    }
    Search s{pattern,
             Pattern_.size(),
             Folded_,
             FirstAt_,
             LastAt_,
             {First_[0], First_[1]},
             {Last_[0], Last_[1]},
             static_cast<unsigned char>(First_[0] ^ First_[1]),
             static_cast<unsigned char>(Last_[0] ^ Last_[1]),
             false};
    s.SingleBit = OneBitOrNone(s.FirstBit) && OneBitOrNone(s.LastBit);
    return Find(data, size, s);
}

} // namespace ferry
