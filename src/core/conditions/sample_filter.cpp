#include "core/conditions/sample_filter.h"

#include "core/byte_rank.h"
#include "core/conditions/window_filter.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ferry {

namespace {

constexpr std::size_t kGram = 4;
constexpr std::size_t kStep = 4;
constexpr unsigned kHashBits = 16;

bool Has(const std::array<uint64_t, 4>& set, unsigned b) {
    return (set[b >> 6] >> (b & 63)) & 1;
}

void Put(std::array<uint64_t, 4>& set, unsigned b) {
    set[b >> 6] |= uint64_t{1} << (b & 63);
}

// How often bytes of the set turn up, on the byte ranking's scale.
double Weight(const std::array<uint64_t, 4>& set) {
    double w = 0;
    for (unsigned b = 0; b < 256; ++b)
        if (Has(set, b))
            w += ByteWeight(static_cast<unsigned char>(b));
    return w;
}

constexpr uint32_t kMultiplier = 0x9E3779B1u;

uint32_t Hash(uint32_t key) {
    return (key * kMultiplier) >> (32 - kHashBits);
}

bool Tested(const uint32_t* bits, uint32_t h) {
    return (bits[h >> 5] >> (h & 31)) & 1;
}

} // namespace

bool SampleFilter::Add(uint32_t literal, const std::vector<LiteralElement>& elements) {
    std::vector<ByteSet> run, best, whole;
    std::size_t runStart = 0, bestStart = 0;
    bool fixed = true;
    auto endRun = [&] {
        if (run.size() > best.size()) {
            best = run;
            bestStart = runStart;
        }
        run.clear();
        runStart = whole.size();
    };
    for (const LiteralElement& e : elements) {
        std::size_t shortest = 4, longest = 0;
        for (const std::string& f : e.Forms) {
            shortest = std::min(shortest, f.size());
            longest = std::max(longest, f.size());
        }
        if (shortest != longest) {
            fixed = false;
            endRun();
            continue;
        }
        for (std::size_t j = 0; j < longest; ++j) {
            ByteSet set{};
            for (const std::string& f : e.Forms)
                Put(set, static_cast<unsigned char>(f[j]));
            run.push_back(set);
            whole.push_back(set);
        }
    }
    endRun();
    if (best.size() < kGram + kStep - 1)
        return false;
    if (!fixed)
        whole.clear();
    Literals_.push_back(Literal{literal, std::move(best), bestStart, std::move(whole)});
    return true;
}

void SampleFilter::Seal() {
    // The coarsest agreeable mapping is cheapest: none when every position takes one byte,
    // clearing bit 5 when every case pair differs in it alone (ASCII and Latin-1 letters,
    // the first half of the Cyrillic alphabet in UTF-8), else a table of classes.
    bool single = true, bit5 = true;
    std::array<unsigned char, 256> parent;
    std::iota(parent.begin(), parent.end(), 0);
    auto find = [&](unsigned b) {
        while (parent[b] != b)
            b = parent[b] = parent[parent[b]];
        return b;
    };
    for (const Literal& literal : Literals_)
        for (const ByteSet& set : literal.Run) {
            int first = -1;
            for (unsigned b = 0; b < 256; ++b) {
                if (!Has(set, b))
                    continue;
                if (first < 0) {
                    first = static_cast<int>(b);
                    continue;
                }
                single = false;
                bit5 = bit5 && (b & 0xDF) == (static_cast<unsigned>(first) & 0xDF);
                parent[find(b)] = static_cast<unsigned char>(find(static_cast<unsigned>(first)));
            }
        }
    Fold_ = single ? Fold::Same : bit5 ? Fold::Bit5 : Fold::Table;
    for (unsigned b = 0; b < 256; ++b)
        Table_[b] = static_cast<unsigned char>(find(b));

    Bits_.assign((1u << kHashBits) / 32, 0);
    for (std::size_t n = 0; n < Literals_.size(); ++n) {
        const Literal& literal = Literals_[n];
        // The kStep consecutive grams least likely to turn up by chance.
        const std::size_t grams = literal.Run.size() - kGram + 1;
        std::vector<double> often(grams, 1.0);
        for (std::size_t o = 0; o < grams; ++o)
            for (std::size_t j = 0; j < kGram; ++j)
                often[o] *= Weight(literal.Run[o + j]);
        std::size_t first = 0;
        double best = -1;
        for (std::size_t o = 0; o + kStep <= grams; ++o) {
            const double sum =
                std::accumulate(often.begin() + static_cast<std::ptrdiff_t>(o),
                                often.begin() + static_cast<std::ptrdiff_t>(o + kStep), 0.0);
            if (best < 0 || sum < best) {
                best = sum;
                first = o;
            }
        }
        for (std::size_t o = first; o < first + kStep; ++o) {
            uint32_t gram = 0;
            for (std::size_t j = 0; j < kGram; ++j)
                for (unsigned b = 0; b < 256; ++b)
                    if (Has(literal.Run[o + j], b)) {
                        gram |= b << (8 * j);
                        break;
                    }
            const uint32_t key = FoldGram(gram);
            const uint32_t h = Hash(key);
            Bits_[h >> 5] |= uint32_t{1} << (h & 31);
            Entries_.push_back(
                Entry{key, static_cast<uint32_t>(n), static_cast<uint32_t>(literal.RunStart + o)});
        }
    }
    std::sort(Entries_.begin(), Entries_.end(), [](const Entry& a, const Entry& b) {
        if (a.Key != b.Key)
            return a.Key < b.Key;
        return a.Literal != b.Literal ? a.Literal < b.Literal : a.Offset < b.Offset;
    });
    for (Literal& literal : Literals_)
        literal.Run = {};
}

uint32_t SampleFilter::FoldGram(uint32_t g) const {
    switch (Fold_) {
    case Fold::Same:
        return g;
    case Fold::Bit5:
        return g & 0xDFDFDFDFu;
    default:
        return static_cast<uint32_t>(Table_[g & 0xFF]) |
               static_cast<uint32_t>(Table_[(g >> 8) & 0xFF]) << 8 |
               static_cast<uint32_t>(Table_[(g >> 16) & 0xFF]) << 16 |
               static_cast<uint32_t>(Table_[g >> 24]) << 24;
    }
}

bool SampleFilter::Occurs(const Entry& entry, const unsigned char* data, std::size_t size,
                          std::size_t q) const {
    const std::vector<ByteSet>& whole = Literals_[entry.Literal].Whole;
    // Past the block's edge, or a literal of characters of varying length: the caller's
    // search decides.
    if (whole.empty() || q < entry.Offset || q - entry.Offset + whole.size() > size)
        return true;
    const unsigned char* p = data + q - entry.Offset;
    for (std::size_t i = 0; i < whole.size(); ++i)
        if (!Has(whole[i], p[i]))
            return false;
    return true;
}

bool SampleFilter::Hit(uint32_t key, const unsigned char* data, std::size_t size, std::size_t q,
                       std::vector<unsigned char>& flags, std::size_t& left) const {
    auto it = std::lower_bound(Entries_.begin(), Entries_.end(), key,
                               [](const Entry& e, uint32_t k) { return e.Key < k; });
    for (; it != Entries_.end() && it->Key == key; ++it) {
        const uint32_t number = Literals_[it->Literal].Number;
        if (!flags[number] && Occurs(*it, data, size, q)) {
            flags[number] = 1;
            if (--left == 0)
                return false;
        }
    }
    return true;
}

namespace {

#if defined(__x86_64__)

// Eight samples a vector: the grams at q, q + 4, ..., q + 28 are the eight lanes of the 32
// bytes at q. Their hashes are tested in the bitmap by one gather. Returns where it stopped,
// or npos when `onHit` asked it to.
template <typename OnHit>
__attribute__((target("avx2"))) std::size_t SampleAvx2(const unsigned char* data, std::size_t size,
                                                       uint32_t mask, const uint32_t* bits,
                                                       OnHit&& onHit) {
    const __m256i fold = _mm256_set1_epi32(static_cast<int>(mask));
    const __m256i multiplier = _mm256_set1_epi32(static_cast<int>(kMultiplier));
    const __m256i low5 = _mm256_set1_epi32(31);
    std::size_t q = 0;
    for (; q + 32 <= size; q += 32) {
        const __m256i grams =
            _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + q)), fold);
        const __m256i h = _mm256_srli_epi32(_mm256_mullo_epi32(grams, multiplier), 32 - kHashBits);
        const __m256i words =
            _mm256_i32gather_epi32(reinterpret_cast<const int*>(bits), _mm256_srli_epi32(h, 5), 4);
        const __m256i bit = _mm256_srlv_epi32(words, _mm256_and_si256(h, low5));
        auto hits = static_cast<unsigned>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(bit, 31))));
        while (hits) {
            const unsigned lane = static_cast<unsigned>(__builtin_ctz(hits));
            uint32_t gram;
            std::memcpy(&gram, data + q + 4 * lane, sizeof gram);
            if (!onHit(gram & mask, q + 4 * lane))
                return static_cast<std::size_t>(-1);
            hits &= hits - 1;
        }
    }
    return q;
}

#endif

} // namespace

bool SampleFilter::Scan(const unsigned char* data, std::size_t size,
                        std::vector<unsigned char>& flags, std::size_t& left) const {
    if (Entries_.empty())
        return true;
    auto onHit = [&](uint32_t key, std::size_t q) { return Hit(key, data, size, q, flags, left); };
    const uint32_t* bits = Bits_.data();
    std::size_t q = 0;
#if defined(__x86_64__)
    if (Fold_ != Fold::Table && FilterVectors()) {
        q = SampleAvx2(data, size, Fold_ == Fold::Bit5 ? 0xDFDFDFDFu : 0xFFFFFFFFu, bits, onHit);
        if (q == static_cast<std::size_t>(-1))
            return false;
    }
#endif
    for (; q + kGram <= size; q += kStep) {
        uint32_t gram;
        std::memcpy(&gram, data + q, sizeof gram);
        const uint32_t key = FoldGram(gram);
        if (Tested(bits, Hash(key)) && !onHit(key, q))
            return false;
    }
    return true;
}

} // namespace ferry
