#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/text.h"
#include "mail/reply_errors.h"
#include "mail/reply_smtp.h"

using namespace ferry;

namespace {

using Lines = std::vector<std::string>;

// The engine's reading loop over lines already received: the first non-blank line,
// trimmed, then further lines as they stand until one is final.
Lines CollectReply(const TIdReply& reply, const Lines& received, size_t& used) {
    Lines out;
    used = 0;
    while (used < received.size() && Trim(received[used]).empty())
        ++used;
    if (used == received.size())
        return out;
    out.push_back(Trim(received[used++]));
    while (!reply.IsFinalLine(out.back()) && used < received.size())
        out.push_back(received[used++]);
    return out;
}

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return "(nothing raised)";
}

} // namespace

TEST(ReplyTest, FinalLineRule) {
    TIdReplySMTP r;
    EXPECT_TRUE(r.IsFinalLine(""));
    EXPECT_TRUE(r.IsFinalLine("250"));
    EXPECT_TRUE(r.IsFinalLine("250 OK"));
    EXPECT_TRUE(r.IsFinalLine("250\tOK"));
    EXPECT_FALSE(r.IsFinalLine("250-PIPELINING"));
    EXPECT_FALSE(r.IsFinalLine("250OK"));
    EXPECT_FALSE(r.IsFinalLine("25 short"));
}

TEST(ReplyTest, ReadingLoopSkipsBlankLinesAndAwaitsFinalLine) {
    TIdReplySMTP r;
    size_t used = 0;
    Lines got = CollectReply(r, {"", "  ", "  220 ready  "}, used);
    ASSERT_EQ(got, Lines{"220 ready"});
    r.ParseReplyLines(got);
    EXPECT_EQ(r.Code(), "220");
    EXPECT_EQ(r.Text, Lines{"ready"});

    // "25 short" has an 's' as its 4th character: the reply goes on to the next line.
    got = CollectReply(r, {"25 short", "250 fine", "999 unread"}, used);
    EXPECT_EQ(got, (Lines{"25 short", "250 fine"}));
    EXPECT_EQ(used, 2u);
}

TEST(ReplyTest, ParsesCodeTextAndEnhancedCodes) {
    struct Row {
        Lines lines;
        std::string code;
        Lines text;
        std::string enhanced;
    };
    const Row rows[] = {
        {{"250-8BITMIME", "250 SIZE"}, "250", {"8BITMIME", "SIZE"}, ""},
        {{"550 5.1.1 Mailbox unavailable"}, "550", {"Mailbox unavailable"}, "5.1.1"},
        {{"250"}, "250", {""}, ""},
        {{"250 2.0.0"}, "250", {""}, "2.0.0"},
        {{"250-mail.example", "250-PIPELINING", "250 8BITMIME"},
         "250",
         {"mail.example", "PIPELINING", "8BITMIME"},
         ""},
        // The last code written wins; a longer subject reads back cut to three digits.
        {{"250-2.1.0 a", "250 4.1234.7 b"}, "250", {"a", "b"}, "4.123.7"},
        {{"250-PIPELINING x"}, "250", {"PIPELINING x"}, ""},
    };
    for (const Row& row : rows) {
        TIdReplySMTP r;
        r.ParseReplyLines(row.lines);
        EXPECT_EQ(r.Code(), row.code) << row.lines[0];
        EXPECT_EQ(r.NumericCode(), StrToInt(row.code));
        EXPECT_EQ(r.Text, row.text) << row.lines[0];
        EXPECT_EQ(r.EnhancedCode.ReplyAsStr(), row.enhanced) << row.lines[0];
    }

    TIdReplySMTP empty;
    empty.ParseReplyLines({});
    EXPECT_EQ(empty.Code(), "");
    EXPECT_TRUE(empty.Text.empty());
    EXPECT_EQ(empty.NumericCode(), 0);
}

TEST(ReplyTest, InvalidCodesAreRefusedAndLeaveTheReplyEmpty) {
    TIdReplySMTP r;
    r.ParseReplyLines({"250 OK"});
    for (const char* line : {"25", "ok", "099 x", "1000 x", "abc"}) {
        std::string msg = MessageOf([&] { r.ParseReplyLines({line}); });
        EXPECT_EQ(msg, "Reply Code is not valid: " + Trim(std::string(line).substr(0, 4)));
        EXPECT_EQ(r.Code(), "");
        EXPECT_TRUE(r.Text.empty());
    }
    EXPECT_EQ(MessageOf([&] { r.ParseReplyLines({"25-x"}); }), "Reply Code is not valid: 25-x");

    EXPECT_TRUE(r.IsValidCode("250"));
    EXPECT_TRUE(r.IsValidCode("999"));
    EXPECT_TRUE(r.IsValidCode("100"));
    EXPECT_TRUE(r.IsValidCode("  "));
    EXPECT_FALSE(r.IsValidCode("99"));
    EXPECT_FALSE(r.IsValidCode("1000"));

    // Setting the same code again keeps the text; a new code empties it; a bad one changes nothing.
    r.ParseReplyLines({"250 OK"});
    r.SetCode("250");
    EXPECT_EQ(r.Text, Lines{"OK"});
    EXPECT_THROW(r.SetCode("42"), EIdException);
    EXPECT_EQ(r.Code(), "250");
    EXPECT_EQ(r.Text, Lines{"OK"});
    r.SetCode("251");
    EXPECT_TRUE(r.Text.empty());
}

TEST(ReplyTest, RefusalCarriesCodeTextAndOwnEnhancedCode) {
    TIdReplySMTP r;
    r.ParseReplyLines({"550 5.1.1 Mailbox unavailable"});
    try {
        r.RaiseForReply();
        FAIL();
    } catch (const EIdSMTPReplyError& e) {
        EXPECT_EQ(e.ReplyCode, 550);
        EXPECT_EQ(e.message(), "Mailbox unavailable\r\n");
        EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), "5.1.1");
    }

    // A reply without an enhanced code inherits the one the previous reply left.
    r.ParseReplyLines({"250 2.1.0 Ok"});
    r.ParseReplyLines({"554-Transaction failed", "554 try later"});
    try {
        r.RaiseForReply();
        FAIL();
    } catch (const EIdSMTPReplyError& e) {
        EXPECT_EQ(e.ReplyCode, 554);
        EXPECT_EQ(e.message(), "Transaction failed\r\ntry later\r\n");
        EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), "2.1.0");
        r.ParseReplyLines({"250 OK"}); // the error's code is its own copy
        r.EnhancedCode.SetAvailable(false);
        EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), "2.1.0");
    }

    // The RFC form raises its own error with the same message and no enhanced code.
    TIdReplyRFC rfc;
    rfc.ParseReplyLines({"421-closing", "421 2.0.0 bye"});
    EXPECT_EQ(rfc.Text, (Lines{"closing", "2.0.0 bye"}));
    try {
        rfc.RaiseForReply();
        FAIL();
    } catch (const EIdSMTPReplyError&) {
        FAIL() << "RFC reply must not raise the SMTP error";
    } catch (const EIdReplyRFCError& e) {
        EXPECT_EQ(e.ReplyCode, 421);
        EXPECT_EQ(e.message(), "closing\r\n2.0.0 bye\r\n");
    }

    std::unique_ptr<TIdReply> copy = r.Clone();
    auto* smtpCopy = dynamic_cast<TIdReplySMTP*>(copy.get());
    ASSERT_NE(smtpCopy, nullptr);
    EXPECT_EQ(smtpCopy->Code(), "250");
    EXPECT_EQ(smtpCopy->Text, Lines{"OK"});
}

TEST(ReplyTest, OddEnhancedCodesInReplies) {
    // A negative part passes the form test, then the range check refuses it.
    TIdReplySMTP r;
    EXPECT_EQ(MessageOf([&] { r.ParseReplyLines({"550 5.-1.0 no"}); }), "Range check error");

    // A class that is not a plain number is stored as 0; the refusal then reports the
    // code as malformed rather than the server's text.
    TIdReplySMTP odd;
    odd.ParseReplyLines({"550 2x.1.0 odd"});
    EXPECT_EQ(odd.EnhancedCode.ReplyAsStr(), "0.1.0");
    EXPECT_EQ(odd.Text, Lines{"odd"});
    EXPECT_EQ(MessageOf([&] { odd.RaiseForReply(); }), "Invalid Reply String.");
}
