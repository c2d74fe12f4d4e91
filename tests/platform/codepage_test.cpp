#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <set>

namespace ferry {

TEST(CodePageTest, UpperCaseTableCoversWindows1252) {
    // ASCII: only a-z change.
    for (int c = 0; c < 128; ++c) {
        const int expected = (c >= 'a' && c <= 'z') ? c - 32 : c;
        EXPECT_EQ(CharUpperByte(static_cast<unsigned char>(c)), expected) << c;
    }
    // Above 127: accented small letters fold onto their capitals, the division sign and
    // the letters without a capital in the code page stay.
    EXPECT_EQ(CharUpperByte(0xE0), 0xC0); // a grave
    EXPECT_EQ(CharUpperByte(0xE9), 0xC9); // e acute
    EXPECT_EQ(CharUpperByte(0xFE), 0xDE); // thorn
    EXPECT_EQ(CharUpperByte(0xF7), 0xF7); // division sign
    EXPECT_EQ(CharUpperByte(0x9A), 0x8A); // s caron
    EXPECT_EQ(CharUpperByte(0x9C), 0x8C); // oe
    EXPECT_EQ(CharUpperByte(0x9E), 0x8E); // z caron
    EXPECT_EQ(CharUpperByte(0xFF), 0x9F); // y diaeresis
    EXPECT_EQ(CharUpperByte(0xDF), 0xDF); // sharp s
    EXPECT_EQ(CharUpperByte(0xB5), 0xB5); // micro
    EXPECT_EQ(CharUpperByte(0x83), 0x83); // f hook
    EXPECT_EQ(CharUpperByte(0xD7), 0xD7); // multiplication sign

    // Upper-casing is idempotent, and no capital has two small partners, so the folded
    // comparison of the matcher can test at most two bytes per pattern byte.
    int changed = 0;
    for (int c = 0; c < 256; ++c) {
        const unsigned char u = CharUpperByte(static_cast<unsigned char>(c));
        EXPECT_EQ(CharUpperByte(u), u) << c;
        if (u != c)
            ++changed;
    }
    EXPECT_EQ(changed, 26 + 30 + 4);
    std::set<unsigned char> targets;
    for (int c = 0; c < 256; ++c) {
        if (CharUpperByte(static_cast<unsigned char>(c)) != c) {
            EXPECT_TRUE(targets.insert(CharUpperByte(static_cast<unsigned char>(c))).second);
        }
    }
}

TEST(CodePageTest, StringAndBufferFormsStopWhereTheySay) {
    char text[] = "ab\xe7"
                  "d\0ef";
    EXPECT_EQ(CharUpperA(text), text);
    EXPECT_EQ(std::string(text, 7), std::string("AB\xc7"
                                                "D\0ef",
                                                7)); // stops at the NUL

    char buffer[] = "ab\0cd";
    EXPECT_EQ(CharUpperBuffA(buffer, 5), 5u);
    EXPECT_EQ(std::string(buffer, 5), std::string("AB\0CD", 5)); // goes through it

    EXPECT_EQ(CharUpperString(std::string("x\0\xff", 3)), std::string("X\0\x9f", 3));
}

} // namespace ferry
