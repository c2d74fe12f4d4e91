// The client's dialogue, byte for byte, against a scripted server on 127.0.0.1.
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <unistd.h>

#include "mail/message.h"
#include "mail/reply_errors.h"
#include "mail/smtp.h"
#include "net/id_errors.h"
#include "support/smtp_script_server.h"

namespace ferry {
namespace {

using test::SmtpScriptServer;
using Millis = std::chrono::milliseconds;

// Monday 7 December 2026, 04:05:09 UTC; the tests run with TZ=UTC0.
std::time_t FixedDate() {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 7;
    tm.tm_hour = 4;
    tm.tm_min = 5;
    tm.tm_sec = 9;
    return timegm(&tm);
}

const std::string Headers = "From: \"s@h\" <s@h>\r\n"
                            "Subject: Notification Message!\r\n"
                            "To: a@h, b@h\r\n"
                            "Date: Mon, 7 Dec 2026 04:05:09 +0000\r\n";
const std::string Data = Headers + "\r\nFiles have been processed.\r\n\r\n.\r\n";
const std::string Batch = "RSET\r\nMAIL FROM: <s@h>\r\nRCPT TO:<a@h>\r\nRCPT TO:<b@h>\r\nDATA\r\n";

class SmtpDialogue : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        message.From().Address = "s@h";
        message.Recipients.SetAddressesText("a@h; b@h");
        message.Subject = "Notification Message!";
        message.SetBodyText("Files have been processed.");
        message.Date = FixedDate();
        client.SetHost("127.0.0.1");
        client.HeloName = "client.test";
    }

    // Greeting and EHLO with the given reply lines (already joined with CR LF).
    static void Hello(SmtpScriptServer& s, const std::string& ehloReply) {
        s.Reply("220 srv.test ESMTP").ExpectLine("EHLO client.test").Send(ehloReply);
    }
    static void Quit(SmtpScriptServer& s) { s.ExpectLine("QUIT").Reply("221 bye"); }

    // The plain (unpipelined) envelope up to the go-ahead for the text, each command answered
    // as a willing server would; `replies` gives the lines a test answers otherwise.
    static void Envelope(SmtpScriptServer& s,
                         const std::map<std::string, std::string>& replies = {}) {
        for (const char* command : {"RSET", "MAIL FROM: <s@h>", "RCPT TO:<a@h>", "RCPT TO:<b@h>"}) {
            const auto other = replies.find(command);
            s.ExpectLine(command).Reply(other == replies.end() ? "250 ok" : other->second);
        }
        s.ExpectLine("DATA").Reply("354 go ahead");
    }

    void Start(SmtpScriptServer& s) {
        client.SetPort(s.Port());
        s.Start();
    }

    TIdMessage message;
    TIdSMTP client;
};

TEST_F(SmtpDialogue, EhloRefusedFallsBackToHeloAndThePlainTransaction) {
    SmtpScriptServer s;
    Hello(s, "502 5.5.1 EHLO not here\r\n");
    s.ExpectLine("HELO client.test").Reply("250 srv.test");
    Envelope(s, {{"RCPT TO:<b@h>", "251 will forward"}});
    s.Expect(Data).Reply("250 queued");
    Quit(s);
    Start(s);

    client.OpenSession();
    EXPECT_EQ(client.ServerExtensions.Count(), 0u);
    client.DeliverMessage(message);
    client.CloseSession(true);
    EXPECT_EQ(s.Finish(), "");
}

TEST_F(SmtpDialogue, PipeliningCountsInAnyCaseButOnlyAsAWholeLine) {
    {
        SmtpScriptServer s;
        Hello(s, "250-srv.test\r\n250-8BITMIME\r\n250 pipelining\r\n");
        // Nothing is answered until the whole batch is in: a client that waited for the
        // reply to RSET would time out here.
        s.Expect(Batch).Send("250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go ahead\r\n");
        s.Expect(Data).Reply("250 queued");
        Quit(s);
        Start(s);
        client.OpenSession();
        EXPECT_EQ(client.ServerExtensions.Lines,
                  (std::vector<std::string>{"8BITMIME", "pipelining"}));
        client.DeliverMessage(message);
        client.CloseSession(true);
        EXPECT_EQ(s.Finish(), "");
    }
    {
        SmtpScriptServer s;
        Hello(s, "250-srv.test\r\n250 PIPELINING x\r\n");
        Envelope(s);
        s.Expect(Data).Reply("250 queued");
        Quit(s);
        Start(s);
        client.OpenSession();
        client.DeliverMessage(message);
        client.CloseSession(true);
        EXPECT_EQ(s.Finish(), "");
    }
}

TEST_F(SmtpDialogue, ThreeLineGreetingAndOneLineEhloReply) {
    SmtpScriptServer s;
    s.Send("220-srv.test\r\n220-welcome\r\n220 ready\r\n");
    s.ExpectLine("EHLO client.test").Reply("250 srv.test");
    Quit(s);
    Start(s);
    client.OpenSession();
    EXPECT_EQ(client.ServerExtensions.Count(), 0u);
    client.CloseSession(true);
    EXPECT_EQ(s.Finish(), "");
}

TEST_F(SmtpDialogue, RefusedGreetingSendsQuitAndTheCleanUpErrorWins) {
    {
        SmtpScriptServer s;
        s.Reply("554 5.3.2 go away");
        Quit(s);
        Start(s);
        try {
            client.OpenSession();
            FAIL() << "the greeting was accepted";
        } catch (const EIdSMTPReplyError& e) {
            EXPECT_EQ(e.ReplyCode, 554);
            EXPECT_EQ(e.message(), "go away\r\n");
            EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), "5.3.2");
        }
        EXPECT_FALSE(client.IsConnected());
        EXPECT_EQ(s.Finish(), "");
    }
    {
        SmtpScriptServer s;
        s.Reply("554 go away").ExpectLine("QUIT").Reply("500 what");
        Start(s);
        try {
            client.OpenSession();
            FAIL() << "the greeting was accepted";
        } catch (const EIdSMTPReplyError& e) {
            EXPECT_EQ(e.ReplyCode, 500); // the refused QUIT replaces the greeting's error
        }
        EXPECT_EQ(s.Finish(), "");
    }
}

TEST_F(SmtpDialogue, PlainFormStopsAtTheFirstRefusedRecipientAndResets) {
    {
        SmtpScriptServer s;
        Hello(s, "250 srv.test\r\n");
        s.ExpectLine("RSET").Reply("250 ok");
        s.ExpectLine("MAIL FROM: <s@h>").Reply("250 ok");
        s.ExpectLine("RCPT TO:<a@h>").Reply("550 5.1.1 no such user");
        s.ExpectLine("RSET").Reply("250 ok");
        Quit(s); // the session stays usable
        Start(s);
        client.OpenSession();
        try {
            client.DeliverMessage(message);
            FAIL() << "the refusal was not raised";
        } catch (const EIdSMTPReplyError& e) {
            EXPECT_EQ(e.ReplyCode, 550);
            EXPECT_EQ(e.message(), "no such user\r\n");
            EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), "5.1.1");
        }
        client.CloseSession(true);
        EXPECT_EQ(s.Finish(), "");
    }
    {
        // The server hangs up instead of answering the RSET: that error replaces the 550.
        SmtpScriptServer s;
        Hello(s, "250 srv.test\r\n");
        s.ExpectLine("RSET").Reply("250 ok");
        s.ExpectLine("MAIL FROM: <s@h>").Reply("250 ok");
        s.ExpectLine("RCPT TO:<a@h>").Reply("550 no such user");
        s.ExpectLine("RSET").Close();
        Start(s);
        client.OpenSession();
        EXPECT_THROW(client.DeliverMessage(message), EIdConnClosedGracefully);
        client.CloseSession(true); // nothing left to say QUIT to
        EXPECT_EQ(s.Finish(), "");
    }
}

TEST_F(SmtpDialogue, ToleratedRefusalsGoOnUnlessEveryRecipientIsRefused) {
    std::vector<std::string> asked;
    client.OnFailedRecipient = [&](TIdSMTPBase&, const std::string& address,
                                   const std::string& code, const std::string& text,
                                   bool& vContinue) {
        EXPECT_TRUE(vContinue); // preset
        asked.push_back(address + " " + code + " " + text);
    };
    {
        SmtpScriptServer s;
        Hello(s, "250 srv.test\r\n");
        s.ExpectLine("RSET").Reply("250 ok");
        s.ExpectLine("MAIL FROM: <s@h>").Reply("250 ok");
        s.ExpectLine("RCPT TO:<a@h>").Reply("550 5.1.1 no such user");
        s.ExpectLine("RCPT TO:<b@h>").Reply("250 ok");
        s.ExpectLine("DATA").Reply("354 go ahead");
        s.Expect(Data).Reply("250 queued");
        Quit(s);
        Start(s);
        client.OpenSession();
        client.DeliverMessage(message);
        client.CloseSession(true);
        EXPECT_EQ(s.Finish(), "");
        EXPECT_EQ(asked, std::vector<std::string>{"a@h 550 no such user\r\n"});
    }
    {
        SmtpScriptServer s;
        Hello(s, "250 srv.test\r\n");
        s.ExpectLine("RSET").Reply("250 ok");
        s.ExpectLine("MAIL FROM: <s@h>").Reply("250 ok");
        s.ExpectLine("RCPT TO:<a@h>").Reply("550 no such user");
        s.ExpectLine("RCPT TO:<b@h>").Reply("553 not here either");
        s.ExpectLine("RSET").Reply("250 ok");
        Quit(s);
        Start(s);
        client.OpenSession();
        try {
            client.DeliverMessage(message);
            FAIL() << "a transaction without any recipient went on";
        } catch (const EIdSMTPReplyError& e) {
            EXPECT_EQ(e.ReplyCode, 553); // the reply to the last RCPT
        }
        client.CloseSession(true);
        EXPECT_EQ(s.Finish(), "");
    }
}

TEST_F(SmtpDialogue, PipelinedFormStillSendsTheMessageAndRaisesTheFirstFailure) {
    SmtpScriptServer s;
    Hello(s, "250-srv.test\r\n250 PIPELINING\r\n");
    s.Expect(Batch).Send("250 ok\r\n250 ok\r\n550 5.1.1 a unknown\r\n250 ok\r\n354 go ahead\r\n");
    s.Expect(Data).Reply("250 queued");
    s.ExpectLine("RSET").Reply("250 ok");
    Quit(s);
    Start(s);
    client.OpenSession();
    try {
        client.DeliverMessage(message);
        FAIL() << "the refusal was not raised";
    } catch (const EIdSMTPReplyError& e) {
        EXPECT_EQ(e.ReplyCode, 550);
        EXPECT_EQ(e.message(), "a unknown\r\n");
        EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), "5.1.1");
    }
    client.CloseSession(true);
    EXPECT_EQ(s.Finish(), "");
}

TEST_F(SmtpDialogue, PipelinedFormKeepsTheFirstFailureAndWritesNoDataWithoutGoAhead) {
    int asked = 0;
    client.OnFailedRecipient = [&](TIdSMTPBase&, const std::string&, const std::string&,
                                   const std::string&, bool&) { ++asked; };
    {
        // MAIL refused: the recipients' refusals that follow are not asked about, DATA is
        // refused, so no message text; RSET, and the MAIL reply is the error.
        SmtpScriptServer s;
        Hello(s, "250-srv.test\r\n250 PIPELINING\r\n");
        s.Expect(Batch).Send("250 ok\r\n550 5.7.1 not you\r\n503 need MAIL\r\n"
                             "503 need MAIL\r\n503 5.5.1 no valid recipients\r\n");
        s.ExpectLine("RSET").Reply("250 ok");
        Quit(s);
        Start(s);
        client.OpenSession();
        try {
            client.DeliverMessage(message);
            FAIL() << "the refusal was not raised";
        } catch (const EIdSMTPReplyError& e) {
            EXPECT_EQ(e.ReplyCode, 550);
            EXPECT_EQ(e.message(), "not you\r\n");
        }
        EXPECT_EQ(asked, 0);
        client.CloseSession(true);
        EXPECT_EQ(s.Finish(), "");
    }
    {
        // Everything accepted up to the end of data, which is refused: RSET, that error.
        SmtpScriptServer s;
        Hello(s, "250-srv.test\r\n250 PIPELINING\r\n");
        s.Expect(Batch).Send("250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go ahead\r\n");
        s.Expect(Data).Reply("554 5.6.0 rejected");
        s.ExpectLine("RSET").Reply("250 ok");
        Quit(s);
        Start(s);
        client.OpenSession();
        try {
            client.DeliverMessage(message);
            FAIL() << "the refusal was not raised";
        } catch (const EIdSMTPReplyError& e) {
            EXPECT_EQ(e.ReplyCode, 554);
            EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), "5.6.0");
        }
        client.CloseSession(true);
        EXPECT_EQ(s.Finish(), "");
    }
}

TEST_F(SmtpDialogue, EmptyRecipientListLetsTheServerRefuseData) {
    message.Recipients.Clear();
    SmtpScriptServer s;
    Hello(s, "250 srv.test\r\n");
    s.ExpectLine("RSET").Reply("250 ok");
    s.ExpectLine("MAIL FROM: <s@h>").Reply("250 ok");
    s.ExpectLine("DATA").Reply("503 5.5.1 no valid recipients");
    s.ExpectLine("RSET").Reply("250 ok");
    Quit(s);
    Start(s);
    client.OpenSession();
    try {
        client.DeliverMessage(message);
        FAIL() << "the refusal was not raised";
    } catch (const EIdSMTPReplyError& e) {
        EXPECT_EQ(e.ReplyCode, 503);
    }
    client.CloseSession(true);
    EXPECT_EQ(s.Finish(), "");
}

TEST_F(SmtpDialogue, QuitAnsweredWith250ClosesFirstThenRaises) {
    SmtpScriptServer s;
    Hello(s, "250 srv.test\r\n");
    s.ExpectLine("QUIT").Reply("250 not quite").ExpectClose();
    Start(s);
    client.OpenSession();
    try {
        client.CloseSession(true);
        FAIL() << "the refused QUIT was not raised";
    } catch (const EIdSMTPReplyError& e) {
        EXPECT_EQ(e.ReplyCode, 250);
        // The server saw the close before the error reached us.
        EXPECT_EQ(s.Finish(), "");
    }
    EXPECT_FALSE(client.IsConnected());
    client.CloseSession(true); // a second close says nothing
}

TEST_F(SmtpDialogue, ServerHangingUpInsteadOfAnsweringGetsNoQuit) {
    SmtpScriptServer s;
    // Anything written after the server's close, such as a QUIT, fails the script.
    s.Reply("220 srv.test").ExpectLine("EHLO client.test").Close();
    Start(s);
    try {
        client.OpenSession();
        FAIL() << "the close was not noticed";
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(s.Finish(), "");
}

TEST_F(SmtpDialogue, BodyLinesStartingWithADotAreDoubled) {
    message.SetBodyText(".\r\n..x\r\n.x\r\n .y");
    SmtpScriptServer s;
    Hello(s, "250 srv.test\r\n");
    Envelope(s);
    s.Expect(Headers + "\r\n..\r\n...x\r\n..x\r\n .y\r\n\r\n.\r\n").Reply("250 queued");
    Quit(s);
    Start(s);
    client.OpenSession();
    client.DeliverMessage(message);
    client.CloseSession(true);
    EXPECT_EQ(s.Finish(), "");
}

TEST_F(SmtpDialogue, SilentServerEndsTheSessionWithReadTimeout) {
    client.SetReadTimeout(300);
    for (const char* partial : {"", "250-srv.test\r\n"}) {
        SCOPED_TRACE(partial);
        SmtpScriptServer s;
        // The client must give up, close, and not try a QUIT on a dialogue out of step.
        s.Reply("220 srv.test").ExpectLine("EHLO client.test").Send(partial).ExpectClose();
        Start(s);
        auto start = std::chrono::steady_clock::now();
        try {
            client.OpenSession();
            FAIL() << "the silence was not noticed";
        } catch (const EIdReadTimeout& e) {
            EXPECT_STREQ(e.what(), "Read Timeout");
        }
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, Millis(280));
        EXPECT_LT(took, Millis(3000));
        EXPECT_EQ(s.Finish(), "");
    }
}

TEST_F(SmtpDialogue, ATricklingReplyCannotStretchTheLimit) {
    // A byte every 250 ms would satisfy a limit on each wait for ever; the limit is on the
    // whole reply.
    client.SetReadTimeout(400);
    SmtpScriptServer s;
    s.Reply("220 srv.test").ExpectLine("EHLO client.test");
    s.Send("2").Pause(Millis(250)).Send("5").Pause(Millis(250)).Send("0").ExpectClose();
    Start(s);
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.OpenSession(), EIdReadTimeout);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, Millis(380));
    EXPECT_LT(took, Millis(700));
    EXPECT_EQ(s.Finish(), "");
}

TEST_F(SmtpDialogue, CommandLinesWithLineBreaksAreRefusedBeforeAnythingIsWritten) {
    message.From().Address = "s@h>\r\nRCPT TO:<victim@x";
    {
        SmtpScriptServer s;
        Hello(s, "250 srv.test\r\n");
        s.ExpectLine("RSET").Reply("250 ok");
        Quit(s); // no MAIL line, not even its first part
        Start(s);
        client.OpenSession();
        EXPECT_THROW(client.DeliverMessage(message), EIdException);
        client.CloseSession(true);
        EXPECT_EQ(s.Finish(), "");
    }
    {
        SmtpScriptServer s;
        Hello(s, "250-srv.test\r\n250 PIPELINING\r\n");
        Quit(s); // none of the batch
        Start(s);
        client.OpenSession();
        EXPECT_THROW(client.DeliverMessage(message), EIdException);
        client.CloseSession(true);
        EXPECT_EQ(s.Finish(), "");
    }
}

TEST_F(SmtpDialogue, WithoutAHeloNameTheLocalHostNameIsSent) {
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    client.HeloName.clear();
    SmtpScriptServer s;
    s.Reply("220 srv.test").ExpectLine(std::string("EHLO ") + host).Reply("250 srv.test");
    Quit(s);
    Start(s);
    client.OpenSession();
    client.CloseSession(true);
    EXPECT_EQ(s.Finish(), "");
}

// Nothing in the program asks for them, but the client offers them: EXPN gives every text
// line, VRFY the first; both take 250 or 251 and raise the reply for anything else.
TEST_F(SmtpDialogue, ExpandAndVerifyTakeTwoFiftyOrTwoFiftyOne) {
    SmtpScriptServer s;
    Hello(s, "250 srv.test\r\n");
    s.ExpectLine("EXPN staff").Send("250-Ann <a@h>\r\n250 Bob <b@h>\r\n");
    s.ExpectLine("VRFY bob").Reply("251 Bob <b@elsewhere>");
    s.ExpectLine("VRFY nobody").Reply("550 5.1.1 no such user");
    Quit(s);
    Start(s);
    client.OpenSession();
    EXPECT_EQ(client.Expand("staff"), (std::vector<std::string>{"Ann <a@h>", "Bob <b@h>"}));
    EXPECT_EQ(client.Verify("bob"), "Bob <b@elsewhere>");
    EXPECT_THROW(client.Verify("nobody"), EIdSMTPReplyError);
    client.CloseSession(true);
    EXPECT_EQ(s.Finish(), "");
}

} // namespace
} // namespace ferry
