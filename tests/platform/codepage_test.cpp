#include "platform/codepage.h"

#include "support/code_page_scope.h"

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

TEST(CodePageTest, TheLocaleNamesTheCodePage) {
    CodePage cp = CodePage::Utf8();
    ASSERT_TRUE(CodePage::ForLocale("C", cp));
    EXPECT_EQ(cp.GetKind(), CodePage::Kind::Windows1252);
    ASSERT_TRUE(CodePage::ForLocale("POSIX", cp));
    EXPECT_EQ(cp.GetKind(), CodePage::Kind::Windows1252);
    ASSERT_TRUE(CodePage::ForLocale("C.UTF-8", cp));
    EXPECT_TRUE(cp.IsUtf8());
    // Not installed here, but the name says enough.
    ASSERT_TRUE(CodePage::ForLocale("xx_YY.utf8", cp));
    EXPECT_TRUE(cp.IsUtf8());
    ASSERT_TRUE(CodePage::ForLocale("xx_YY.ISO-8859-7", cp));
    EXPECT_EQ(cp.GetKind(), CodePage::Kind::SingleByte);
    EXPECT_EQ(cp.ToUtf16("\xE1"), u"\u03B1"); // Greek alpha
    EXPECT_FALSE(CodePage::ForLocale("xx_YY", cp));
    EXPECT_FALSE(CodePage::ForLocale("xx_YY.NO-SUCH-SET", cp));
}

TEST(CodePageTest, Utf8KeepsEveryCharacterAndEveryByte) {
    FERRY_IN_LOCALE("en_US.UTF-8");
    const CodePage& cp = SystemCodePage();
    EXPECT_TRUE(cp.IsUtf8());
    const std::u16string typed = u"Bank \u0421\u0447\u0451\u0442 \u03A3\u03CE\u03C3 "
                                 u"\u53E3\u5EA7 \U0001F600";
    const std::string bytes = cp.FromUtf16(typed);
    EXPECT_EQ(bytes, "Bank Счёт Σώσ 口座 😀");
    EXPECT_EQ(cp.ToUtf16(bytes), typed);
    // Bytes that are not UTF-8 (an old Windows-1252 hive) come back as they were.
    const std::string old = "caf\xE9 \xC3 \xF0\x9F\x98 \x80";
    EXPECT_EQ(cp.FromUtf16(cp.ToUtf16(old)), old);
    // Half a surrogate pair is no character.
    std::string out;
    char32_t missing = 0;
    EXPECT_FALSE(cp.FromUtf16Exact(u"a\xD83D", out, missing));
    EXPECT_EQ(missing, 0xD83Du);
    EXPECT_EQ(out, "a?");
    // Upper-casing byte by byte leaves everything but ASCII letters alone.
    EXPECT_EQ(CharUpperString("счёт ü abc"), "счёт ü ABC");
}

TEST(CodePageTest, LegacyLocalesKeepTheirOwnTable) {
    {
        FERRY_IN_LOCALE("ru_RU.KOI8-R");
        const CodePage& cp = SystemCodePage();
        EXPECT_EQ(cp.GetKind(), CodePage::Kind::SingleByte);
        EXPECT_EQ(cp.FromUtf16(u"Счёт"), "\xF3\xDE\xA3\xD4");
        EXPECT_EQ(cp.ToUtf16("\xF3\xDE\xA3\xD4"), u"Счёт");
        EXPECT_EQ(CharUpperString("\xF3\xDE\xA3\xD4 x"), "\xF3\xFE\xB3\xF4 X"); // СЧЁТ
        EXPECT_EQ(cp.FromUtf16(u"口 ü"), "? ?");
        // Every byte still means one character and back.
        for (int b = 0; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            EXPECT_EQ(cp.FromUtf16(cp.ToUtf16(one)), one) << b;
        }
    }
    {
        FERRY_IN_LOCALE("de_DE.ISO-8859-1");
        EXPECT_EQ(SystemCodePage().FromUtf16(u"Müller €"), "M\xFCller ?");
        EXPECT_EQ(CharUpperString("m\xFCller \xFF"), "M\xDCLLER \xFF"); // no capital y diaeresis
    }
}

TEST(CodePageTest, MultiByteLocalesKeepTheirCharactersWhole) {
    struct Row {
        const char* Locale;
        const char16_t* Native; // two characters; in three sets their second bytes are
                                // a backslash or a letter
        std::string Bytes, Upper;
    };
    const Row rows[] = {
        {"ja_JP.SJIS", u"ソヂ",
         "\x82\x81\x82"
         "a\x82\x83 \x83\xBF\x83\xB6 z\\\x83\\\x83"
         "a",
         "\x82`\x82"
         "a\x82"
         "b \x83\x9F\x83\xB6 Z\\\x83\\\x83"
         "a"},
        {"ja_JP.EUC-JP", u"日本", "\xA3\xE1\xA3\xC2\xA3\xE3 \xA6\xC1\xA6\xB8 z\\\xC6\xFC\xCB\xDC",
         "\xA3\xC1\xA3\xC2\xA3\xC3 \xA6\xA1\xA6\xB8 Z\\\xC6\xFC\xCB\xDC"},
        {"zh_CN.GBK", u"說誇",
         "\xA3\xE1\xA3\xC2\xA3\xE3 \xA6\xC1\xA6\xB8 z\\\xD5"
         "f\xD5"
         "F",
         "\xA3\xC1\xA3\xC2\xA3\xC3 \xA6\xA1\xA6\xB8 Z\\\xD5"
         "f\xD5"
         "F"},
        {"zh_TW.BIG5", u"許口",
         "\xA2\xE9\xA2\xD0\xA2\xEB \xA3\\\xA3[ z\\\xB3\\\xA4"
         "f",
         "\xA2\xCF\xA2\xD0\xA2\xD1 \xA3"
         "D\xA3[ Z\\\xB3\\\xA4"
         "f"},
        {"ko_KR.EUC-KR", u"김치", "\xA3\xE1\xA3\xC2\xA3\xE3 \xA5\xE1\xA5\xD8 z\\\xB1\xE8\xC4\xA1",
         "\xA3\xC1\xA3\xC2\xA3\xC3 \xA5\xC1\xA5\xD8 Z\\\xB1\xE8\xC4\xA1"},
    };
    std::string missing;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Locale);
        test::ScopedCodePage codePage(row.Locale);
        if (!codePage.Ok()) {
            missing += std::string(" ") + row.Locale;
            continue;
        }
        const CodePage& cp = SystemCodePage();
        EXPECT_TRUE(cp.IsMultiByte());
        EXPECT_EQ(cp.IsShiftJis(), row.Locale == std::string("ja_JP.SJIS"));
        // Full-width and Greek letters of both cases, and the backslash as itself (in
        // Shift JIS too, which the desktop reads as code page 932).
        const std::u16string text = u"ａＢｃ αΩ z\\" + std::u16string(row.Native);
        EXPECT_EQ(cp.FromUtf16(text), row.Bytes);
        EXPECT_EQ(cp.ToUtf16(row.Bytes), text);
        // Upper-casing takes whole characters: no second byte is changed as a letter.
        EXPECT_EQ(CharUpperString(row.Bytes), row.Upper);
        std::string terminated = row.Bytes;
        EXPECT_EQ(std::string(CharUpperA(terminated.data())), row.Upper);
        // Bytes that make no character, a lead byte cut off at the end, come back whole.
        const std::string odd = "x\xFF \x80\x80 " + row.Bytes.substr(0, 1);
        EXPECT_EQ(cp.FromUtf16(cp.ToUtf16(odd)), odd);
        EXPECT_EQ(CharUpperString(odd), "X" + odd.substr(1));
        EXPECT_EQ(cp.FromUtf16(u"\U0001F600"), "?"); // none of them has it
    }
    if (!missing.empty())
        GTEST_SKIP() << "not installed (scripts/install-locales makes them):" << missing;
}

} // namespace ferry
