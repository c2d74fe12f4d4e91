#include "core/fold_search.h"

#include "core/byte_rank.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unicode/uchar.h>
#include <unicode/uset.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ferry {

namespace {

uint32_t Pack(const std::string& bytes) {
    uint32_t v = 0;
    std::memcpy(&v, bytes.data(), bytes.size());
    return v;
}

constexpr uint32_t kMask[5] = {0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF};

} // namespace

std::vector<char32_t> Utf8FoldPattern::CaseClass(char32_t cp) {
    const auto f = static_cast<char32_t>(u_foldCase(static_cast<UChar32>(cp), U_FOLD_CASE_DEFAULT));
    // ICU's case closure of the character holds every one that folds as it does (and some
    // that are equal only under full folding, which are left out): asked per character, it
    // spares a pass's start a scan of every code point.
    USet* closure = uset_open(static_cast<UChar32>(cp), static_cast<UChar32>(cp));
    if (!closure)
        throw std::bad_alloc();
    uset_add(closure, static_cast<UChar32>(f));
    uset_closeOver(closure, USET_CASE_INSENSITIVE);
    std::vector<char32_t> out;
    const int32_t items = uset_getItemCount(closure);
    for (int32_t i = 0; i < items; ++i) {
        UChar32 low = 0, high = -1;
        UErrorCode status = U_ZERO_ERROR;
        // Strings (full foldings) come back with a length and are skipped.
        if (uset_getItem(closure, i, &low, &high, nullptr, 0, &status) != 0)
            continue;
        for (UChar32 c = low; c <= high; ++c)
            if (static_cast<char32_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT)) == f)
                out.push_back(static_cast<char32_t>(c));
    }
    uset_close(closure);
    if (std::find(out.begin(), out.end(), f) == out.end())
        out.push_back(f);
    std::sort(out.begin(), out.end());
    return out;
}

Utf8FoldPattern::Utf8FoldPattern(const std::string& pattern) {
    const auto* p = reinterpret_cast<const unsigned char*>(pattern.data());
    const std::size_t n = pattern.size();
    HasNul_ = pattern.find('\0') != std::string::npos;
    for (std::size_t i = 0; i < n;) {
        Element e;
        char32_t cp = 0;
        const int length = DecodeUtf8(p + i, n - i, cp);
        if (length <= 0) {
            e.Forms[0] = p[i];
            e.Lengths[0] = 1;
            e.Count = 1;
            e.Lone = true;
            ++i;
        } else {
            const std::vector<char32_t> members = CaseClass(cp);
            if (members.size() > sizeof e.Forms / sizeof e.Forms[0])
                throw std::logic_error("case class larger than expected");
            for (char32_t m : members) {
                std::string form;
                AppendUtf8(form, m);
                e.Forms[e.Count] = Pack(form);
                e.Lengths[e.Count] = static_cast<uint8_t>(form.size());
                ++e.Count;
            }
            i += static_cast<std::size_t>(length);
        }
        for (int k = 0; k < e.Count; ++k) {
            e.MinLength = std::min(e.MinLength, e.Lengths[k]);
            e.MaxLength = std::max(e.MaxLength, e.Lengths[k]);
        }
        MaxLength_ += e.MaxLength;
        Elements_.push_back(e);
    }

    // The anchor: the longest run of characters whose forms all have one length, so that
    // bytes at fixed offsets from its start can be tested many positions at a time. With a
    // lone byte in the pattern the run must start the pattern (no matching backwards then).
    const bool anyLone =
        std::any_of(Elements_.begin(), Elements_.end(), [](const Element& e) { return e.Lone; });
    std::size_t bestStart = 0, bestEnd = 0, bestBytes = 0;
    for (std::size_t s = 0; s < Elements_.size();) {
        std::size_t end = s, bytes = 0;
        while (end < Elements_.size() && Elements_[end].MinLength == Elements_[end].MaxLength)
            bytes += Elements_[end++].MaxLength;
        if (bytes > bestBytes) {
            bestStart = s;
            bestEnd = end;
            bestBytes = bytes;
        }
        if (anyLone)
            break;
        s = end + 1;
    }
    Anchor_ = bestStart;

    // Adds a byte to a probe's set; false when the set would pass the four the vector
    // loops test.
    auto addByte = [](Probe& probe, unsigned char byte) {
        if (std::find(probe.Bytes, probe.Bytes + probe.Count, byte) != probe.Bytes + probe.Count)
            return true;
        if (probe.Count == 4)
            return false;
        probe.Bytes[probe.Count++] = byte;
        return true;
    };
    // Candidate probes: every byte offset of the run, with the bytes found there.
    std::vector<Probe> probes;
    std::vector<std::size_t> owner; // the element each probe lies in
    std::size_t offset = 0;
    for (std::size_t k = bestStart; k < bestEnd; ++k) {
        const Element& e = Elements_[k];
        for (int b = 0; b < e.MaxLength; ++b, ++offset) {
            Probe probe;
            probe.Offset = offset;
            bool fits = true;
            for (int f = 0; f < e.Count; ++f)
                fits = fits && addByte(probe, static_cast<unsigned char>(e.Forms[f] >> (8 * b)));
            if (fits) {
                probes.push_back(probe);
                owner.push_back(k);
            }
        }
    }
    if (probes.empty() && !Elements_.empty()) {
        // No character of one length: the first bytes of the anchor's forms, where few.
        const Element& e = Elements_[Anchor_];
        Probe probe;
        bool fits = true;
        for (int f = 0; f < e.Count; ++f)
            fits = fits && addByte(probe, static_cast<unsigned char>(e.Forms[f]));
        if (fits) {
            probes.push_back(probe);
            owner.push_back(Anchor_);
        }
    }
    auto score = [](const Probe& p) {
        uint64_t s = 0;
        for (int i = 0; i < p.Count; ++i)
            s += ByteWeight(p.Bytes[i]);
        return s;
    };
    // The rarest probe, then the rarest in another character: the bytes of one character
    // mostly come together (a lead byte with its continuation), so two of them filter little
    // more than one.
    std::vector<std::size_t> order(probes.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return score(probes[a]) < score(probes[b]);
    });
    if (order.size() > 2)
        for (std::size_t i = 1; i < order.size(); ++i)
            if (owner[order[i]] != owner[order[0]]) {
                std::rotate(order.begin() + 1, order.begin() + static_cast<std::ptrdiff_t>(i),
                            order.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                break;
            }
    ProbeCount_ = static_cast<int>(std::min<std::size_t>(2, probes.size()));
    for (int i = 0; i < ProbeCount_; ++i)
        Probes_[i] = probes[order[static_cast<std::size_t>(i)]];
    if (ProbeCount_ == 1)
        Probes_[1] = Probes_[0];
}

Utf8FoldPattern::Step Utf8FoldPattern::MatchForward(const Element& e, const unsigned char* data,
                                                    std::size_t at, std::size_t size, bool atEnd,
                                                    std::size_t& length) const {
    const std::size_t avail = size - at;
    if (e.Lone) {
        if (avail == 0)
            return atEnd ? Step::No : Step::More;
        if (data[at] != static_cast<unsigned char>(e.Forms[0]))
            return Step::No;
        char32_t cp;
        const int d = DecodeUtf8(data + at, avail, cp);
        if (d > 0)
            return Step::No; // here the byte begins a character
        if (d < 0 && !atEnd)
            return Step::More;
        length = 1;
        return Step::Yes;
    }
    if (avail >= 4) {
        uint32_t word;
        std::memcpy(&word, data + at, 4);
        for (int f = 0; f < e.Count; ++f)
            if ((word & kMask[e.Lengths[f]]) == e.Forms[f]) {
                length = e.Lengths[f];
                return Step::Yes;
            }
        return Step::No;
    }
    bool prefix = false;
    for (int f = 0; f < e.Count; ++f) {
        const std::size_t l = e.Lengths[f];
        const std::size_t n = std::min(l, avail);
        uint32_t word = 0;
        std::memcpy(&word, data + at, n);
        if ((word & kMask[n]) != (e.Forms[f] & kMask[n]))
            continue;
        if (n == l) {
            length = l;
            return Step::Yes;
        }
        prefix = true;
    }
    return prefix && !atEnd ? Step::More : Step::No;
}

bool Utf8FoldPattern::MatchBackward(const Element& e, const unsigned char* data, std::size_t end,
                                    std::size_t& length) const {
    for (int f = 0; f < e.Count; ++f) {
        const std::size_t l = e.Lengths[f];
        if (l > end)
            continue;
        uint32_t word = 0;
        std::memcpy(&word, data + end - l, l);
        if (word == e.Forms[f]) {
            length = l;
            return true;
        }
    }
    return false;
}

Utf8FoldPattern::Step Utf8FoldPattern::Verify(const unsigned char* data, std::size_t size,
                                              std::size_t q, bool atStart, bool atEnd,
                                              std::size_t& start) const {
    std::size_t pos = q, length = 0;
    for (std::size_t k = Anchor_; k-- > 0;) {
        if (!MatchBackward(Elements_[k], data, pos, length))
            return Step::No;
        pos -= length;
    }
    start = pos;
    if (!atStart && start < kLookAround)
        return Step::No; // decided with the previous block
    const Element& first = Elements_.front();
    if (first.Lone && (first.Forms[0] & 0xC0) == 0x80) {
        // A continuation byte is a lone byte only when no sequence before it takes it in.
        for (std::size_t k = 1; k <= kLookAround && k <= start; ++k) {
            char32_t cp;
            const int d = DecodeUtf8(data + start - k, size - (start - k), cp);
            if (d > static_cast<int>(k))
                return Step::No;
            if (d < 0 && !atEnd)
                return Step::More;
        }
    }
    pos = q;
    for (std::size_t k = Anchor_; k < Elements_.size(); ++k) {
        const Step step = MatchForward(Elements_[k], data, pos, size, atEnd, length);
        if (step != Step::Yes)
            return step;
        pos += length;
    }
    return Step::Yes;
}

namespace {

// A probe's byte set as the vector loops test it: one byte or two differing in one bit
// (OR and compare), two bytes, or up to four.
enum ProbeKind { kBit = 0, kPair = 1, kQuad = 2 };

struct ProbeBytes {
    unsigned char B[4];
    unsigned char Bit, Target;
    int Kind;
};

ProbeBytes Prepare(const unsigned char* bytes, int count) {
    ProbeBytes p{};
    for (int i = 0; i < 4; ++i)
        p.B[i] = bytes[std::min(i, count - 1)];
    const unsigned char diff = static_cast<unsigned char>(p.B[0] ^ p.B[1]);
    if (count == 1 || (count == 2 && (diff & (diff - 1)) == 0)) {
        p.Kind = kBit;
        p.Bit = diff;
        p.Target = static_cast<unsigned char>(p.B[0] | diff);
    } else {
        p.Kind = count == 2 ? kPair : kQuad;
    }
    return p;
}

template <typename Check>
std::size_t ScanCandidates(std::size_t from, std::size_t lastQ, const unsigned char* data,
                           std::size_t offA, std::size_t offB, const ProbeBytes& a,
                           const ProbeBytes& b, Check&& check) {
    auto in = [](unsigned char x, const ProbeBytes& p) {
        return x == p.B[0] || x == p.B[1] || x == p.B[2] || x == p.B[3];
    };
    for (std::size_t q = from; q <= lastQ; ++q)
        if (in(data[q + offA], a) && in(data[q + offB], b)) {
            const int r = check(q);
            if (r >= 0)
                return static_cast<std::size_t>(r);
        }
    return Utf8FoldPattern::npos;
}

#if defined(__x86_64__)

template <int Kind>
__attribute__((target("avx2"), always_inline)) inline __m256i
Test32(__m256i x, __m256i v0, __m256i v1, __m256i v2, __m256i v3) {
    if constexpr (Kind == kBit)
        return _mm256_cmpeq_epi8(_mm256_or_si256(x, v0), v1);
    else if constexpr (Kind == kPair)
        return _mm256_or_si256(_mm256_cmpeq_epi8(x, v0), _mm256_cmpeq_epi8(x, v1));
    else
        return _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(x, v0), _mm256_cmpeq_epi8(x, v1)),
                               _mm256_or_si256(_mm256_cmpeq_epi8(x, v2), _mm256_cmpeq_epi8(x, v3)));
}

// Vectors for Test32: the bit and the target for kBit, else the bytes.
struct Vectors {
    __m256i V[4];
};

__attribute__((target("avx2"))) inline Vectors Load(const ProbeBytes& p) {
    Vectors v;
    if (p.Kind == kBit) {
        v.V[0] = _mm256_set1_epi8(static_cast<char>(p.Bit));
        v.V[1] = _mm256_set1_epi8(static_cast<char>(p.Target));
        v.V[2] = v.V[3] = v.V[1];
    } else {
        for (int i = 0; i < 4; ++i)
            v.V[i] = _mm256_set1_epi8(static_cast<char>(p.B[i]));
    }
    return v;
}

template <int KA, int KB>
__attribute__((target("avx2"), always_inline)) inline __m256i
Hits32(const unsigned char* at, std::size_t offA, std::size_t offB, const Vectors& va,
       const Vectors& vb) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + offA));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + offB));
    return _mm256_and_si256(Test32<KA>(x, va.V[0], va.V[1], va.V[2], va.V[3]),
                            Test32<KB>(y, vb.V[0], vb.V[1], vb.V[2], vb.V[3]));
}

// Candidate positions 64 at a time; `check` verifies one and returns its result (match
// start, or -1 to go on, or -2 to stop without a match).
template <int KA, int KB, typename Check>
__attribute__((target("avx2"))) std::size_t
FindAvx2(const unsigned char* data, std::size_t lastQ, std::size_t offA, std::size_t offB,
         const ProbeBytes& a, const ProbeBytes& b, Check&& check, bool& stopped) {
    const Vectors va = Load(a), vb = Load(b);
    std::size_t q = 0;
    for (; q + 64 <= lastQ + 1; q += 64) {
        const unsigned char* p = data + q;
        const __m256i m0 = Hits32<KA, KB>(p, offA, offB, va, vb);
        const __m256i m1 = Hits32<KA, KB>(p + 32, offA, offB, va, vb);
        const __m256i any = _mm256_or_si256(m0, m1);
        if (_mm256_testz_si256(any, any))
            continue;
        uint64_t mask =
            static_cast<uint32_t>(_mm256_movemask_epi8(m0)) |
            (static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(m1))) << 32);
        while (mask) {
            const int r = check(q + static_cast<std::size_t>(__builtin_ctzll(mask)));
            if (r == -2) {
                stopped = true;
                return Utf8FoldPattern::npos;
            }
            if (r >= 0)
                return static_cast<std::size_t>(r);
            mask &= mask - 1;
        }
    }
    return ScanCandidates(q, lastQ, data, offA, offB, a, b, [&](std::size_t at) {
        const int r = check(at);
        if (r == -2)
            stopped = true;
        return r == -2 ? 0 : r; // any non-negative value ends the tail scan
    });
}

template <int KA, typename Check>
std::size_t FindAvx2B(int kb, const unsigned char* data, std::size_t lastQ, std::size_t offA,
                      std::size_t offB, const ProbeBytes& a, const ProbeBytes& b, Check&& check,
                      bool& stopped) {
    switch (kb) {
    case kBit:
        return FindAvx2<KA, kBit>(data, lastQ, offA, offB, a, b, check, stopped);
    case kPair:
        return FindAvx2<KA, kPair>(data, lastQ, offA, offB, a, b, check, stopped);
    default:
        return FindAvx2<KA, kQuad>(data, lastQ, offA, offB, a, b, check, stopped);
    }
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

#endif

} // namespace

std::size_t Utf8FoldPattern::FindIn(const unsigned char* data, std::size_t size, bool atStart,
                                    bool atEnd) const {
    if (HasNul_ || Elements_.empty() || size == 0)
        return npos;
    std::size_t found = npos;
    bool stopped = false;
    // -1: no match here, go on; -2: undecided without the next block, stop; else the start.
    auto check = [&](std::size_t q) -> int {
        std::size_t start = 0;
        switch (Verify(data, size, q, atStart, atEnd, start)) {
        case Step::Yes:
            found = start;
            return static_cast<int>(start);
        case Step::More:
            return -2;
        default:
            return -1;
        }
    };

    if (ProbeCount_ == 0) {
        for (std::size_t q = 0; q < size; ++q) {
            const int r = check(q);
            if (r == -2)
                return npos;
            if (r >= 0)
                return found;
        }
        return npos;
    }
    const std::size_t offA = Probes_[0].Offset, offB = Probes_[1].Offset;
    const std::size_t reach = std::max(offA, offB);
    if (size <= reach)
        return npos; // the next block sees these positions with the bytes they need
    const std::size_t lastQ = size - 1 - reach;
    const ProbeBytes a = Prepare(Probes_[0].Bytes, Probes_[0].Count);
    const ProbeBytes b = Prepare(Probes_[1].Bytes, Probes_[1].Count);
#if defined(__x86_64__)
    if (HaveAvx2()) {
        std::size_t r;
        switch (a.Kind) {
        case kBit:
            r = FindAvx2B<kBit>(b.Kind, data, lastQ, offA, offB, a, b, check, stopped);
            break;
        case kPair:
            r = FindAvx2B<kPair>(b.Kind, data, lastQ, offA, offB, a, b, check, stopped);
            break;
        default:
            r = FindAvx2B<kQuad>(b.Kind, data, lastQ, offA, offB, a, b, check, stopped);
            break;
        }
        return stopped ? npos : (r == npos ? npos : found);
    }
#endif
    const std::size_t r = ScanCandidates(0, lastQ, data, offA, offB, a, b, [&](std::size_t q) {
        const int v = check(q);
        if (v == -2)
            stopped = true;
        return v == -2 ? 0 : v;
    });
    return stopped || r == npos ? npos : found;
}

} // namespace ferry
