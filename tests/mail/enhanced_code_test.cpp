#include <gtest/gtest.h>

#include "base/exception.h"
#include "mail/enhanced_code.h"
#include "mail/reply_errors.h"

using namespace ferry;

TEST(EnhancedCodeTest, WellFormedTest) {
    for (const char* ok :
         {"2.1.0", "5.7.1", "4.4.12", "", "   ", "5.1.1 trailing", "5.-1.0", "2x.1.0"})
        EXPECT_TRUE(TIdSMTPEnhancedCode::IsWellFormed(ok)) << ok;
    for (const char* bad :
         {"2.1", "3.1.0", "5.x.1", "5.1.1.2", "PIPELINING", "5..1", "5.1.", ".1.1", "5"})
        EXPECT_FALSE(TIdSMTPEnhancedCode::IsWellFormed(bad)) << bad;
}

TEST(EnhancedCodeTest, WritingAndReadingTheTextForm) {
    TIdSMTPEnhancedCode c;
    EXPECT_FALSE(c.Available());
    EXPECT_EQ(c.ReplyAsStr(), "");

    c.SetReplyAsStr("5.1.1");
    EXPECT_TRUE(c.Available());
    EXPECT_EQ(c.StatusClass(), 5u);
    EXPECT_EQ(c.Subject(), 1u);
    EXPECT_EQ(c.Details(), 1u);
    EXPECT_EQ(c.ReplyAsStr(), "5.1.1");

    c.SetReplyAsStr("4.1234.56789");
    EXPECT_EQ(c.Subject(), 1234u);
    EXPECT_EQ(c.ReplyAsStr(), "4.123.567");

    // A malformed text changes nothing.
    EXPECT_THROW(c.SetReplyAsStr("3.1.0"), EIdSMTPReplyInvalidReplyString);
    EXPECT_EQ(c.ReplyAsStr(), "4.123.567");

    // A refused negative part leaves all three numbers as they were.
    EXPECT_THROW(c.SetReplyAsStr("5.1.-1"), ERangeError);
    EXPECT_EQ(c.ReplyAsStr(), "4.123.567");

    // Empty text: not available, the numbers stay.
    c.SetReplyAsStr("");
    EXPECT_FALSE(c.Available());
    EXPECT_EQ(c.StatusClass(), 4u);
    EXPECT_EQ(c.ReplyAsStr(), "");
}

TEST(EnhancedCodeTest, ValidatingSetters) {
    TIdSMTPEnhancedCode c;
    c.SetStatusClass(4);
    EXPECT_EQ(c.StatusClass(), 4u);
    for (uint32_t bad : {0u, 1u, 3u, 6u}) {
        try {
            c.SetStatusClass(bad);
            FAIL() << bad;
        } catch (const EIdSMTPReplyInvalidClass& e) {
            EXPECT_EQ(e.message(), "Invalid Reply Class.");
        }
    }
    EXPECT_EQ(c.StatusClass(), 4u);

    c.SetSubject(7);
    c.SetAvailable(false); // no change: nothing reset
    EXPECT_EQ(c.StatusClass(), 4u);
    c.SetAvailable(true); // switching on starts from 2.0.0
    EXPECT_EQ(c.ReplyAsStr(), "2.0.0");
    c.SetStatusClass(5);
    c.SetAvailable(true); // already on: kept
    EXPECT_EQ(c.ReplyAsStr(), "5.0.0");
}
