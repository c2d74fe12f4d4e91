#include "mail/iso2022jp.h"

#include <cstdint>

namespace ferry {

namespace {

// JIS X 0208 codes of the half-width katakana 0xA1..0xDF (JIS X 0201), in order.
const uint16_t kHalfWidthKana[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, // A1-A8
    0x2525, 0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543, 0x213C, // A9-B0
    0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B, 0x252D, 0x252F, // B1-B8
    0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F, // B9-C0
    0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D, // C1-C8
    0x254E, 0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E, 0x255F, // C9-D0
    0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569, 0x256A, // D1-D8
    0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,         // D9-DF
};

const unsigned char kVoicedMark = 0xDE;
const unsigned char kSemiVoicedMark = 0xDF;

bool IsLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}
// Lead bytes of the user-defined and vendor area, which JIS X 0208 does not have.
bool IsUnmappedLeadByte(unsigned char b) {
    return b >= 0xF0 && b <= 0xFC;
}
bool IsTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// The published Shift JIS to JIS X 0208 arithmetic.
uint16_t ShiftJisToJis(unsigned char lead, unsigned char trail) {
    int row = (lead - (lead <= 0x9F ? 0x70 : 0xB0)) * 2;
    int cell;
    if (trail < 0x9F) {
        row -= 1;
        cell = trail - 0x1F - (trail >= 0x80 ? 1 : 0);
    } else {
        cell = trail - 0x7E;
    }
    return static_cast<uint16_t>((row << 8) | cell);
}

// The full-width code of a half-width kana followed by a sound mark, or 0 when the pair
// has no combined form.
uint16_t MergeSoundMark(unsigned char kana, unsigned char mark) {
    uint16_t base = kHalfWidthKana[kana - 0xA1];
    if (mark == kVoicedMark) {
        if (kana == 0xB3) // U + voiced mark is VU
            return 0x2574;
        if ((kana >= 0xB6 && kana <= 0xC4) || (kana >= 0xCA && kana <= 0xCE))
            return base + 1; // KA..TO, HA..HO
    } else if (mark == kSemiVoicedMark) {
        if (kana >= 0xCA && kana <= 0xCE)
            return base + 2; // HA..HO
    }
    return 0;
}

} // namespace

std::string ConvertToIso2022Jp(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    bool doubleByte = false;
    auto putJis = [&](uint16_t code) {
        if (!doubleByte) {
            out += "\x1B$B";
            doubleByte = true;
        }
        out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
    };

    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (doubleByte) {
                out += "\x1B(B";
                doubleByte = false;
            }
            out += static_cast<char>(b);
        } else if (IsLeadByte(b) || IsUnmappedLeadByte(b)) {
            if (i + 1 >= n)
                break; // a lead byte with nothing after it
            const unsigned char trail = static_cast<unsigned char>(text[++i]);
            if (IsLeadByte(b) && IsTrailByte(trail))
                putJis(ShiftJisToJis(b, trail));
        } else if (b >= 0xA1 && b <= 0xDF) {
            if (i + 1 < n) {
                uint16_t merged = MergeSoundMark(b, static_cast<unsigned char>(text[i + 1]));
                if (merged != 0) {
                    putJis(merged);
                    ++i;
                    continue;
                }
            }
            putJis(kHalfWidthKana[b - 0xA1]);
        }
        // 0x80, 0xA0 and 0xFD..0xFF have no JIS X 0208 form and are dropped.
    }
    if (doubleByte)
        out += "\x1B(B";
    return out;
}

} // namespace ferry
