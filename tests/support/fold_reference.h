#pragma once

// The slow, obvious way to find a pattern case-insensitively in UTF-8, that the content
// matcher is checked against by the tests and the fuzzer: decode both sides with ICU (a byte
// outside any well-formed sequence stands for itself), fold every character, and compare
// character by character. And a scan source over bytes in memory.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <vector>

#include "core/content_matcher.h"

namespace ferry::test {

class MemorySource : public ScanSource {
public:
    explicit MemorySource(std::string bytes) : Bytes(std::move(bytes)) {}
    int64_t Size() override { return static_cast<int64_t>(Bytes.size()); }
    std::size_t Read(void* buffer, std::size_t count) override {
        const auto from = static_cast<std::size_t>(Position);
        const std::size_t n = from >= Bytes.size() ? 0 : std::min(count, Bytes.size() - from);
        std::memcpy(buffer, Bytes.data() + from, n);
        Position += static_cast<int64_t>(n);
        return n;
    }
    void Seek(int64_t position) override { Position = position; }

    std::string Bytes;
    int64_t Position = 0;
};

// The offset of the first case-folded occurrence of `pattern` in `text`, or -1. A pattern
// that is empty or holds a NUL is never found, as in the matcher.
inline int64_t FoldReference(const std::string& text, const std::string& pattern) {
    struct Unit {
        int64_t Key; // folded code point, or -1 - byte for a lone byte
        std::size_t Offset;
    };
    auto units = [](const std::string& s) {
        std::vector<Unit> out;
        const auto* p = reinterpret_cast<const uint8_t*>(s.data());
        const auto n = static_cast<int32_t>(s.size());
        for (int32_t i = 0; i < n;) {
            const int32_t at = i;
            UChar32 c;
            U8_NEXT(p, i, n, c);
            if (c < 0) {
                out.push_back({-1 - p[at], static_cast<std::size_t>(at)});
                i = at + 1;
            } else {
                out.push_back({u_foldCase(c, U_FOLD_CASE_DEFAULT), static_cast<std::size_t>(at)});
            }
        }
        return out;
    };
    if (pattern.empty() || pattern.find('\0') != std::string::npos)
        return -1;
    const std::vector<Unit> d = units(text), p = units(pattern);
    for (std::size_t i = 0; i + p.size() <= d.size(); ++i) {
        std::size_t k = 0;
        while (k < p.size() && d[i + k].Key == p[k].Key)
            ++k;
        if (k == p.size())
            return static_cast<int64_t>(d[i].Offset);
    }
    return -1;
}

} // namespace ferry::test
