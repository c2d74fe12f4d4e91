#include "base/exception.h"
#include "base/text.h"

#include <gtest/gtest.h>

using namespace ferry;

TEST(StrToInt, AcceptsTheDocumentedSyntax) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("   42"), 42);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("  -0012"), -12);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("x1f"), 31);
    EXPECT_EQ(StrToInt("X1f"), 31);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("0X10"), 16);
    EXPECT_EQ(StrToInt("-$10"), -16);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("$7FFFFFFF"), 2147483647);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
}

TEST(StrToInt, RefusesEverythingElseWithTheWholeTextInTheMessage) {
    for (const char* bad : {"", " ", "a", "12a", "12 ", "1 2", "--1", "+-1", "$", "0x", "x",
                            "$G", "2147483648", "-2147483649", "$100000000", "1.5", "\t1",
                            "99999999999999999999"}) {
        SCOPED_TRACE(bad);
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.message(), std::string("'") + bad + "' is not a valid integer value");
        }
    }
    int32_t v = 5;
    EXPECT_FALSE(TryStrToInt(std::string("1\0", 2), v));
    EXPECT_EQ(v, 5);
}

TEST(Trim, BlanksAreBytesZeroToThirtyTwo) {
    EXPECT_EQ(Trim(std::string("\0 \t ab c\r\n ", 11)), "ab c");
    EXPECT_EQ(TrimLeft("  a "), "a ");
    EXPECT_EQ(TrimRight("  a "), "  a");
    EXPECT_EQ(Trim("\x21"), "\x21");
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0"); // bytes above 127 are not blanks
    EXPECT_EQ(Trim("    "), "");
}

TEST(Errors, InOutTextsByCode) {
    EXPECT_STREQ(EInOutError(2).what(), "File not found");
    EXPECT_STREQ(EInOutError(3).what(), "Invalid filename");
    EXPECT_STREQ(EInOutError(4).what(), "Too many open files");
    EXPECT_STREQ(EInOutError(5).what(), "File access denied");
    EXPECT_STREQ(EInOutError(100).what(), "Read beyond end of file");
    EXPECT_STREQ(EInOutError(101).what(), "Disk full");
    EXPECT_STREQ(EInOutError(106).what(), "Invalid numeric input");
    EXPECT_STREQ(EInOutError(32).what(), "I/O error 32");
    EXPECT_EQ(EInOutError(32).ErrorCode, 32);
    EXPECT_STREQ(ERangeError().what(), "Range check error");
    const Exception& root = EConvertError("x");
    EXPECT_STREQ(root.what(), "x");
}
