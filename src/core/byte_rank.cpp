#include "core/byte_rank.h"

#include <array>
#include <cmath>
#include <cstring>

namespace ferry {

namespace {

std::array<unsigned char, 256> BuildRank() {
    std::array<unsigned char, 256> r{};
    // Control bytes are rare in text, but fill binaries' headers and padding.
    for (int b = 0; b < 0x20; ++b)
        r[b] = 30;
    r[0x00] = 245; // padding and wide text in every binary
    r[0x01] = 90;
    r[0x02] = 60;
    r[0x03] = 50;
    r[0x04] = 55;
    r[0x08] = 55;
    r['\t'] = 150;
    r['\n'] = 215;
    r['\r'] = 140;
    // Punctuation, roughly by how often text and code use it.
    for (int b = 0x20; b < 0x7F; ++b)
        r[b] = 70;
    const char* punct = ",.-\"=/():;_'<>{}*#[]&+%!?|\\$@~^`";
    for (std::size_t i = 0; punct[i]; ++i)
        r[static_cast<unsigned char>(punct[i])] = static_cast<unsigned char>(175 - 3 * i);
    r[0x7F] = 25;
    r[' '] = 255;
    // Letters by their frequency in English prose; capitals well below their small forms.
    const char* letters = "etaoinsrhldcumfpgwybvkxjqz";
    for (std::size_t i = 0; letters[i]; ++i) {
        const auto lower = static_cast<unsigned char>(letters[i]);
        r[lower] = static_cast<unsigned char>(250 - 5 * i);
        r[lower - 0x20] = static_cast<unsigned char>(165 - 4 * i);
    }
    // Digits: dates, numbers and hex dumps; 0, 1 and 2 lead.
    for (int d = 0; d < 10; ++d)
        r['0' + d] = static_cast<unsigned char>(d < 3 ? 170 - 5 * d : 150 - 3 * d);
    // Above ASCII: UTF-8 continuation bytes (0x80-0xBF) share every non-ASCII character
    // between them; the lead bytes of Latin, Greek and Cyrillic (0xC2-0xD1) and of CJK
    // (0xE2-0xE9) stand on every such character; 0xFF fills binaries like 0x00.
    for (int b = 0x80; b < 0x100; ++b)
        r[b] = 45;
    for (int b = 0x80; b < 0xC0; ++b)
        r[b] = b < 0x90 || (b >= 0xA0 && b < 0xB0) ? 80 : 65;
    for (int b = 0xC2; b <= 0xD1; ++b)
        r[b] = 95;
    r[0xC3] = 120;
    r[0xD0] = 130;
    r[0xD1] = 125;
    for (int b = 0xE2; b <= 0xE9; ++b)
        r[b] = 85;
    r[0xE2] = 110;
    r[0xFF] = 180;
    r[0xFE] = 60;
    return r;
}

} // namespace

int ByteCommonness(unsigned char b) {
    static const std::array<unsigned char, 256> rank = BuildRank();
    return rank[b];
}

uint32_t ByteWeight(unsigned char b) {
    static const std::array<uint32_t, 256> weight = [] {
        std::array<uint32_t, 256> w{};
        for (int i = 0; i < 256; ++i)
            w[i] = static_cast<uint32_t>(
                std::lround(std::exp2(ByteCommonness(static_cast<unsigned char>(i)) / 16.0)));
        return w;
    }();
    return weight[b];
}

} // namespace ferry
