#include "core/conditions/window_filter.h"

#include "core/byte_rank.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ferry {

namespace {

bool AllowVectors = true;

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

// A window's byte sets beyond this many combinations are cut short: each combination is one
// key to look up.
constexpr std::size_t kMaxKeys = 64;

using ByteSet = std::array<uint64_t, 4>;

bool Has(const ByteSet& set, unsigned char b) {
    return (set[b >> 6] >> (b & 63)) & 1;
}

void Put(ByteSet& set, unsigned char b) {
    set[b >> 6] |= uint64_t{1} << (b & 63);
}

std::size_t SizeOf(const ByteSet& set) {
    std::size_t n = 0;
    for (uint64_t w : set)
        n += static_cast<std::size_t>(__builtin_popcountll(w));
    return n;
}

// How often bytes of the set turn up, on the byte ranking's scale.
double Weight(const ByteSet& set) {
    double w = 0;
    for (int b = 0; b < 256; ++b)
        if (Has(set, static_cast<unsigned char>(b)))
            w += ByteWeight(static_cast<unsigned char>(b));
    return w;
}

double AllBytesWeight() {
    static const double all = [] {
        ByteSet every;
        every.fill(~uint64_t{0});
        return Weight(every);
    }();
    return all;
}

// The byte sets of consecutive positions from the start of element `first`: through the
// elements whose forms share one length, then the first bytes of one more.
std::vector<ByteSet> WindowAt(const std::vector<LiteralElement>& elements, std::size_t first) {
    std::vector<ByteSet> window;
    std::size_t keys = 1;
    for (std::size_t k = first; k < elements.size() && window.size() < 3; ++k) {
        const auto& forms = elements[k].Forms;
        std::size_t shortest = 4, longest = 0;
        for (const std::string& f : forms) {
            shortest = std::min(shortest, f.size());
            longest = std::max(longest, f.size());
        }
        const std::size_t take = shortest == longest ? longest : 1;
        for (std::size_t j = 0; j < take && window.size() < 3; ++j) {
            ByteSet set{};
            for (const std::string& f : forms)
                Put(set, static_cast<unsigned char>(f[j]));
            if (keys * SizeOf(set) > kMaxKeys)
                return window;
            keys *= SizeOf(set);
            window.push_back(set);
        }
        if (shortest != longest)
            break;
    }
    return window;
}

uint32_t Hash(uint32_t key, std::size_t slots) {
    return static_cast<uint32_t>((key * 0x9E3779B1u) >> 7) & static_cast<uint32_t>(slots - 1);
}

} // namespace

void AllowFilterVectorsForTesting(bool allow) {
    AllowVectors = allow;
}

bool FilterVectors() {
#if defined(__x86_64__)
    return AllowVectors && HaveAvx2();
#else
    return false;
#endif
}

void WindowFilter::Add(uint32_t literal, const std::vector<LiteralElement>& elements) {
    // The rarest window; a narrower one counts as if its missing positions took any byte.
    std::vector<ByteSet> best;
    double bestScore = 0;
    for (std::size_t first = 0; first < elements.size(); ++first) {
        std::vector<ByteSet> window = WindowAt(elements, first);
        if (window.empty())
            continue;
        double score = 1;
        for (std::size_t j = 0; j < 3; ++j)
            score *= j < window.size() ? Weight(window[j]) : AllBytesWeight();
        if (best.empty() || score < bestScore) {
            best = std::move(window);
            bestScore = score;
        }
    }
    if (best.empty())
        return;
    Group& group = Groups_[best.size() - 1];
    group.Width = best.size();
    for (std::size_t j = 0; j < best.size(); ++j)
        for (int w = 0; w < 4; ++w)
            group.Union[j][w] |= best[j][w];
    // Every combination of the window's bytes is a key.
    std::vector<uint32_t> keys{0};
    for (std::size_t j = 0; j < best.size(); ++j) {
        std::vector<uint32_t> next;
        for (int b = 0; b < 256; ++b)
            if (Has(best[j], static_cast<unsigned char>(b)))
                for (uint32_t k : keys)
                    next.push_back(k | static_cast<uint32_t>(b) << (8 * j));
        keys = std::move(next);
    }
    for (uint32_t k : keys)
        Insert(group, k, literal);
}

void WindowFilter::Insert(Group& group, uint32_t key, uint32_t literal) {
    if (group.Slots.empty() || 2 * (group.Used + 1) > group.Slots.size()) {
        std::vector<Slot> old = std::move(group.Slots);
        group.Slots.assign(std::max<std::size_t>(64, 2 * old.size()), Slot{0, {}});
        group.Used = 0;
        for (Slot& s : old)
            for (uint32_t l : s.Literals)
                Insert(group, s.Key, l);
    }
    for (uint32_t i = Hash(key, group.Slots.size());; i = (i + 1) & (group.Slots.size() - 1)) {
        Slot& s = group.Slots[i];
        if (s.Literals.empty()) {
            s.Key = key;
            s.Literals.push_back(literal);
            ++group.Used;
            return;
        }
        if (s.Key == key) {
            if (std::find(s.Literals.begin(), s.Literals.end(), literal) == s.Literals.end())
                s.Literals.push_back(literal);
            return;
        }
    }
}

const WindowFilter::Slot* WindowFilter::Find(const Group& group, uint32_t key) {
    for (uint32_t i = Hash(key, group.Slots.size());; i = (i + 1) & (group.Slots.size() - 1)) {
        const Slot& s = group.Slots[i];
        if (s.Literals.empty())
            return nullptr;
        if (s.Key == key)
            return &s;
    }
}

namespace {

// Flags the literals of the window at q; false once none is left to flag.
template <typename FindSlot>
bool Hit(const unsigned char* data, std::size_t q, std::size_t width, FindSlot&& find,
         std::vector<unsigned char>& flags, std::size_t& left) {
    uint32_t key = 0;
    for (std::size_t j = 0; j < width; ++j)
        key |= static_cast<uint32_t>(data[q + j]) << (8 * j);
    if (const auto* slot = find(key))
        for (uint32_t l : slot->Literals)
            if (!flags[l]) {
                flags[l] = 1;
                if (--left == 0)
                    return false;
            }
    return true;
}

#if defined(__x86_64__)

// A byte set as three 16-byte tables for the nibble test: the low nibble picks a row of
// bits, the high nibble the bit.
struct NibbleSet {
    __m256i Low;  // bytes 0x00-0x7F: bit h of row n set when h << 4 | n is in the set
    __m256i High; // bytes 0x80-0xFF: bit h - 8 likewise
};

__attribute__((target("avx2"))) NibbleSet MakeNibbleSet(const std::array<uint64_t, 4>& set) {
    alignas(32) unsigned char low[32] = {}, high[32] = {};
    for (int b = 0; b < 256; ++b)
        if (Has(set, static_cast<unsigned char>(b))) {
            unsigned char* row = b < 0x80 ? low : high;
            const int bit = (b >> 4) & 7;
            row[b & 15] |= static_cast<unsigned char>(1 << bit);
            row[16 + (b & 15)] |= static_cast<unsigned char>(1 << bit);
        }
    return {_mm256_load_si256(reinterpret_cast<const __m256i*>(low)),
            _mm256_load_si256(reinterpret_cast<const __m256i*>(high))};
}

__attribute__((target("avx2"), always_inline)) inline __m256i
InSet(__m256i x, const NibbleSet& s, __m256i bits, __m256i nibble, __m256i top) {
    const __m256i row = _mm256_or_si256(_mm256_shuffle_epi8(s.Low, x),
                                        _mm256_shuffle_epi8(s.High, _mm256_xor_si256(x, top)));
    const __m256i bit =
        _mm256_shuffle_epi8(bits, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble));
    return _mm256_cmpeq_epi8(_mm256_and_si256(row, bit), bit);
}

template <std::size_t Width, typename OnHit>
__attribute__((target("avx2"))) std::size_t ScanAvx2(const unsigned char* data, std::size_t size,
                                                     const std::array<uint64_t, 4>* sets,
                                                     OnHit&& onHit) {
    NibbleSet s[Width];
    for (std::size_t j = 0; j < Width; ++j)
        s[j] = MakeNibbleSet(sets[j]);
    const __m256i bits =
        _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16,
                         32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i top = _mm256_set1_epi8(static_cast<char>(0x80));
    std::size_t q = 0;
    for (; q + 32 + Width - 1 <= size; q += 32) {
        __m256i m = InSet(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + q)), s[0],
                          bits, nibble, top);
        for (std::size_t j = 1; j < Width; ++j)
            m = _mm256_and_si256(
                m, InSet(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + q + j)), s[j],
                         bits, nibble, top));
        auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(m));
        while (mask) {
            if (!onHit(q + static_cast<std::size_t>(__builtin_ctz(mask))))
                return size;
            mask &= mask - 1;
        }
    }
    return q;
}

#endif

} // namespace

bool WindowFilter::ScanGroup(const Group& group, const unsigned char* data, std::size_t size,
                             std::vector<unsigned char>& flags, std::size_t& left) const {
    const std::size_t width = group.Width;
    if (group.Slots.empty() || size < width)
        return left > 0;
    auto find = [&](uint32_t key) { return Find(group, key); };
    bool going = true;
    auto onHit = [&](std::size_t q) { return going = Hit(data, q, width, find, flags, left); };
    std::size_t q = 0;
#if defined(__x86_64__)
    if (FilterVectors()) {
        switch (width) {
        case 1:
            q = ScanAvx2<1>(data, size, group.Union.data(), onHit);
            break;
        case 2:
            q = ScanAvx2<2>(data, size, group.Union.data(), onHit);
            break;
        default:
            q = ScanAvx2<3>(data, size, group.Union.data(), onHit);
            break;
        }
        if (!going)
            return false;
    }
#endif
    for (; q + width <= size; ++q) {
        bool in = true;
        for (std::size_t j = 0; j < width && in; ++j)
            in = Has(group.Union[j], data[q + j]);
        if (in && !onHit(q))
            return false;
    }
    return true;
}

double WindowFilter::PassRate() const {
    double rate = 0;
    for (const Group& group : Groups_) {
        if (group.Slots.empty())
            continue;
        double pass = 1;
        for (std::size_t j = 0; j < group.Width; ++j)
            pass *= Weight(group.Union[j]) / AllBytesWeight();
        rate += pass;
    }
    return rate;
}

bool WindowFilter::Scan(const unsigned char* data, std::size_t size,
                        std::vector<unsigned char>& flags, std::size_t& left) const {
    for (const Group& group : Groups_)
        if (left == 0 || !ScanGroup(group, data, size, flags, left))
            return false;
    return left > 0;
}

} // namespace ferry
