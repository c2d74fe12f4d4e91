// The client's dialogue, byte for byte, against a scripted server on 127.0.0.1.
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

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

    void Start(SmtpScriptServer& s) {
        client.SetPort(s.Port());
        s.Start();
    }

    TIdMessage message;
    TIdSMTP client;
};

// One delivery: the plain dialogue (greeting, EHLO, RSET, MAIL FROM, RCPT TO for a@h and b@h,
// DATA, the text, QUIT), or the pipelined one when the EHLO reply lists PIPELINING (the
// envelope as one batch), with what differs from it. A reply not given is a willing server's.
struct Delivery {
    const char* Name;
    std::string Ehlo = "250 srv.test\r\n";
    bool HeloAfter = false; // the EHLO was refused: HELO, answered "250 srv.test"
    // The envelope commands the client sends, in order.
    std::vector<std::string> Envelope = {"RSET", "MAIL FROM: <s@h>", "RCPT TO:<a@h>",
                                         "RCPT TO:<b@h>", "DATA"};
    std::map<std::string, std::string> Replies; // by command; "." for the end of the text
    std::string Text = Data;                    // the text after DATA's go-ahead; "" for none
    const char* After = nullptr;                // what the client sends once the transaction
                                                // failed ("RSET", answered "250 ok")
    bool HangUp = false;                        // the server closes instead of answering After
    // What DeliverMessage raises: a reply error's code, text and enhanced code, or a closed
    // connection (-1); 0 when it delivers.
    int Code = 0;
    const char* Message = nullptr;
    const char* Enhanced = nullptr;
    bool Tolerate = false;          // an OnFailedRecipient handler lets refusals go on
    std::vector<std::string> Asked; // what that handler was asked about
    std::optional<std::vector<std::string>> Extensions; // after the greeting, where it matters
    std::function<void(TIdMessage&)> Change;            // the message, where it differs
};

// Each case names only what differs; the members it leaves out keep their defaults.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
const std::vector<Delivery>& Deliveries() {
    static const std::vector<Delivery> cases = {
        {.Name = "EHLO refused: HELO and the plain transaction",
         .Ehlo = "502 5.5.1 EHLO not here\r\n",
         .HeloAfter = true,
         .Replies = {{"RCPT TO:<b@h>", "251 will forward"}},
         .Extensions = std::vector<std::string>{}},
        {.Name = "PIPELINING counts in any case",
         .Ehlo = "250-srv.test\r\n250-8BITMIME\r\n250 pipelining\r\n",
         .Extensions = std::vector<std::string>{"8BITMIME", "pipelining"}},
        {.Name = "PIPELINING counts only as a whole line",
         .Ehlo = "250-srv.test\r\n250 PIPELINING x\r\n",
         .Extensions = std::vector<std::string>{"PIPELINING x"}},
        {.Name = "the plain form stops at the first refused recipient and resets",
         .Envelope = {"RSET", "MAIL FROM: <s@h>", "RCPT TO:<a@h>"},
         .Replies = {{"RCPT TO:<a@h>", "550 5.1.1 no such user"}},
         .Text = "",
         .After = "RSET",
         .Code = 550,
         .Message = "no such user\r\n",
         .Enhanced = "5.1.1"},
        {.Name = "a hang-up instead of the reset's answer replaces the refusal",
         .Envelope = {"RSET", "MAIL FROM: <s@h>", "RCPT TO:<a@h>"},
         .Replies = {{"RCPT TO:<a@h>", "550 no such user"}},
         .Text = "",
         .After = "RSET",
         .HangUp = true,
         .Code = -1},
        {.Name = "a tolerated refusal goes on",
         .Replies = {{"RCPT TO:<a@h>", "550 5.1.1 no such user"}},
         .Tolerate = true,
         .Asked = {"a@h 550 no such user\r\n"}},
        {.Name = "every recipient refused: the last reply is the error",
         .Envelope = {"RSET", "MAIL FROM: <s@h>", "RCPT TO:<a@h>", "RCPT TO:<b@h>"},
         .Replies = {{"RCPT TO:<a@h>", "550 no such user"},
                     {"RCPT TO:<b@h>", "553 not here either"}},
         .Text = "",
         .After = "RSET",
         .Code = 553,
         .Tolerate = true,
         .Asked = {"a@h 550 no such user\r\n", "b@h 553 not here either\r\n"}},
        {.Name = "pipelined: the text still goes, then the first failure",
         .Ehlo = "250-srv.test\r\n250 PIPELINING\r\n",
         .Replies = {{"RCPT TO:<a@h>", "550 5.1.1 a unknown"}},
         .After = "RSET",
         .Code = 550,
         .Message = "a unknown\r\n",
         .Enhanced = "5.1.1"},
        {.Name = "pipelined: MAIL refused, no text, nobody asked about recipients",
         .Ehlo = "250-srv.test\r\n250 PIPELINING\r\n",
         .Replies = {{"MAIL FROM: <s@h>", "550 5.7.1 not you"},
                     {"RCPT TO:<a@h>", "503 need MAIL"},
                     {"RCPT TO:<b@h>", "503 need MAIL"},
                     {"DATA", "503 5.5.1 no valid recipients"}},
         .Text = "",
         .After = "RSET",
         .Code = 550,
         .Message = "not you\r\n",
         .Tolerate = true},
        {.Name = "pipelined: the end of the text refused",
         .Ehlo = "250-srv.test\r\n250 PIPELINING\r\n",
         .Replies = {{".", "554 5.6.0 rejected"}},
         .After = "RSET",
         .Code = 554,
         .Enhanced = "5.6.0"},
        {.Name = "no recipients: the server refuses DATA",
         .Envelope = {"RSET", "MAIL FROM: <s@h>", "DATA"},
         .Replies = {{"DATA", "503 5.5.1 no valid recipients"}},
         .Text = "",
         .After = "RSET",
         .Code = 503,
         .Change = [](TIdMessage& m) { m.Recipients.Clear(); }},
        {.Name = "body lines starting with a dot are doubled",
         .Text = Headers + "\r\n..\r\n...x\r\n..x\r\n .y\r\n\r\n.\r\n",
         .Change = [](TIdMessage& m) { m.SetBodyText(".\r\n..x\r\n.x\r\n .y"); }},
        {.Name = "a line break in a command: refused before its first byte",
         .Envelope = {"RSET"},
         .Text = "",
         .Code = -2,
         .Change = [](TIdMessage& m) { m.From().Address = "s@h>\r\nRCPT TO:<victim@x"; }},
        {.Name = "a line break in a command: none of the batch",
         .Ehlo = "250-srv.test\r\n250 PIPELINING\r\n",
         .Envelope = {},
         .Text = "",
         .Code = -2,
         .Change = [](TIdMessage& m) { m.From().Address = "s@h>\r\nRCPT TO:<victim@x"; }},
    };
    return cases;
}
#pragma GCC diagnostic pop

// The server's side of `d`: the plain (or pipelined) dialogue with its differences.
void Script(SmtpScriptServer& s, const Delivery& d) {
    s.Reply("220 srv.test ESMTP").ExpectLine("EHLO client.test").Send(d.Ehlo);
    if (d.HeloAfter)
        s.ExpectLine("HELO client.test").Reply("250 srv.test");
    auto reply = [&](const std::string& command) {
        const auto other = d.Replies.find(command);
        if (other != d.Replies.end())
            return other->second + "\r\n";
        return std::string(command == "DATA" ? "354 go ahead\r\n" : "250 ok\r\n");
    };
    if (d.Ehlo.find("250 PIPELINING\r\n") != std::string::npos ||
        d.Ehlo.find("250 pipelining\r\n") != std::string::npos) {
        std::string batch, replies;
        for (const std::string& command : d.Envelope) {
            batch += command + "\r\n";
            replies += reply(command);
        }
        if (!batch.empty())
            s.Expect(batch).Send(replies);
    } else {
        for (const std::string& command : d.Envelope)
            s.ExpectLine(command).Send(reply(command));
    }
    if (!d.Text.empty())
        s.Expect(d.Text).Send(d.Replies.count(".") ? reply(".") : "250 queued\r\n");
    if (d.After) {
        s.ExpectLine(d.After);
        if (d.HangUp) {
            s.Close();
            return;
        }
        s.Reply("250 ok");
    }
    s.ExpectLine("QUIT").Reply("221 bye"); // the session stays usable
}

TEST_F(SmtpDialogue, EveryDeliveryByteForByte) {
    for (const Delivery& d : Deliveries()) {
        SCOPED_TRACE(d.Name);
        TIdMessage m;
        m.From().Address = message.From().Address;
        m.Recipients.SetAddressesText("a@h; b@h");
        m.Subject = message.Subject;
        m.SetBodyText("Files have been processed.");
        m.Date = message.Date;
        if (d.Change)
            d.Change(m);
        TIdSMTP c;
        c.SetHost("127.0.0.1");
        c.HeloName = "client.test";
        std::vector<std::string> asked;
        if (d.Tolerate)
            c.OnFailedRecipient = [&](TIdSMTPBase&, const std::string& address,
                                      const std::string& code, const std::string& text,
                                      bool& vContinue) {
                EXPECT_TRUE(vContinue); // preset
                asked.push_back(address + " " + code + " " + text);
            };
        SmtpScriptServer s;
        Script(s, d);
        c.SetPort(s.Port());
        s.Start();
        c.OpenSession();
        if (d.Extensions) {
            EXPECT_EQ(c.ServerExtensions.Lines, *d.Extensions);
        }
        try {
            c.DeliverMessage(m);
            EXPECT_EQ(d.Code, 0) << "delivered";
        } catch (const EIdSMTPReplyError& e) {
            EXPECT_EQ(e.ReplyCode, d.Code);
            if (d.Message) {
                EXPECT_EQ(e.message(), d.Message);
            }
            if (d.Enhanced) {
                EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), d.Enhanced);
            }
        } catch (const EIdConnClosedGracefully&) {
            EXPECT_EQ(d.Code, -1) << "the connection closed";
        } catch (const EIdException& e) {
            EXPECT_EQ(d.Code, -2) << e.what();
        }
        EXPECT_EQ(asked, d.Asked);
        c.CloseSession(true); // QUIT, or nothing left to say it to
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
