#include <gtest/gtest.h>

#include "mail/iso2022jp.h"

using namespace ferry;

namespace {

const std::string ESC_JIS = "\x1B$B";
const std::string ESC_ASCII = "\x1B(B";

} // namespace

TEST(Iso2022JpTest, MixedTextGetsEscapesAroundDoubleByteRuns) {
    EXPECT_EQ(ConvertToIso2022Jp(""), "");
    EXPECT_EQ(ConvertToIso2022Jp("plain ASCII\r\n"), "plain ASCII\r\n");

    // "A" + 日本 (0x93FA 0x967B) + "b" + half-width ｶﾞ (voiced: ガ) ﾊﾟ (semi-voiced: パ)
    // + ｱ with a voiced mark it cannot take + ｳﾞ (ヴ) + "." at the end.
    std::string sjis = "A\x93\xFA\x96\x7B"
                       "b\xB6\xDE\xCA\xDF\xB1\xDE\xB3\xDE.";
    std::string expected = "A" + ESC_JIS + "\x46\x7C\x4B\x5C" + ESC_ASCII + "b" + ESC_JIS +
                           "\x25\x2C\x25\x51\x25\x22\x21\x2B\x25\x74" + ESC_ASCII + ".";
    EXPECT_EQ(ConvertToIso2022Jp(sjis), expected);

    // A run at the end of the text is closed too; a run of kana and kanji is one run.
    EXPECT_EQ(ConvertToIso2022Jp("\x81\x40\xA1\xDF"),
              ESC_JIS + "\x21\x21\x21\x23\x21\x2C" + ESC_ASCII);
    // Row and cell edges of the arithmetic: 0x829F (ぁ 0x2421), 0x889F (亜 0x3021),
    // 0xE040 (漾 0x5F21), 0xEAA4 (熙 0x7426), 0x8180 (÷ 0x2160).
    EXPECT_EQ(ConvertToIso2022Jp("\x82\x9F\x88\x9F\xE0\x40\xEA\xA4\x81\x80"),
              ESC_JIS + "\x24\x21\x30\x21\x5F\x21\x74\x26\x21\x60" + ESC_ASCII);
}

TEST(Iso2022JpTest, BytesWithoutJisFormAreDropped) {
    // Lead bytes 0xF0..0xFC take their trail byte with them.
    EXPECT_EQ(ConvertToIso2022Jp("a\xF0\x40"
                                 "b\xFC\xFC"
                                 "c"),
              "abc");
    // 0x80, 0xA0 and 0xFD..0xFF alone.
    EXPECT_EQ(ConvertToIso2022Jp("a\x80\xA0\xFD\xFE\xFF"
                                 "b"),
              "ab");
    // A pair whose trail byte has no JIS form.
    EXPECT_EQ(ConvertToIso2022Jp("a\x81\x7F"
                                 "b\x88\xFD"
                                 "c"),
              "abc");
    // A lead byte that ends the text is dropped without reading past it.
    EXPECT_EQ(ConvertToIso2022Jp(std::string("a\x93", 2)), "a");
    // Dropped bytes inside a run leave it open.
    EXPECT_EQ(ConvertToIso2022Jp("\x81\x40\x80\x81\x40"), ESC_JIS + "\x21\x21\x21\x21" + ESC_ASCII);
    // A sound mark alone is the full-width mark.
    EXPECT_EQ(ConvertToIso2022Jp("\xDE"), ESC_JIS + "\x21\x2B" + ESC_ASCII);
}
