// The reply classes under the connection's command engine, and the message writer on a
// real I/O handler, against a scripted server on 127.0.0.1.
#include <gtest/gtest.h>

#include "mail/message_writer.h"
#include "mail/reply_errors.h"
#include "mail/reply_smtp.h"
#include "net/tcp_client.h"
#include "support/scoped_env.h"
#include "support/tcp_server.h"

using namespace ferry;
using namespace ferry::test;
using ferry::test::TcpTestPeer;
using ferry::test::TcpTestServer;

namespace {

class SmtpLikeClient : public TIdTCPClientCustom {
public:
    SmtpLikeClient() { LastReply = std::make_unique<TIdReplySMTP>(); }
    TIdReplySMTP& Reply() { return static_cast<TIdReplySMTP&>(*LastReply); }
};

std::unique_ptr<SmtpLikeClient> ClientFor(const TcpTestServer& server) {
    auto client = std::make_unique<SmtpLikeClient>();
    client->SetHost("127.0.0.1");
    client->SetPort(server.Port());
    client->SetReadTimeout(5000);
    return client;
}

} // namespace

TEST(WireTest, SmtpRepliesThroughTheCommandEngine) {
    TcpTestServer server([](TcpTestPeer& peer, int) {
        peer.Send("\r\n  \r\n  220 ready  \r\n");
        peer.ReadLine();
        peer.Send("250 2.1.0 Ok\r\n");
        peer.ReadLine();
        peer.Send("554 Transaction failed\r\n");
        peer.ReadLine();
        // "25 short" does not end the reply; the code is judged once a line does.
        peer.Send("25 short\r\n250 done\r\n");
        peer.ReadLine();
        peer.Send("550 5.1.1 Mailbox unavailable\r\n");
        peer.WaitClosed();
    });
    auto client = ClientFor(server);
    client->Connect();
    EXPECT_EQ(client->AwaitReply(220), 220);
    EXPECT_EQ(client->Reply().Text, std::vector<std::string>{"ready"});

    EXPECT_EQ(client->IssueCommand("MAIL FROM:<s@h>", 250), 250);
    try {
        client->IssueCommand("DATA", 354);
        FAIL();
    } catch (const EIdSMTPReplyError& e) {
        EXPECT_EQ(e.ReplyCode, 554);
        EXPECT_EQ(e.message(), "Transaction failed\r\n");
        EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), "2.1.0"); // left by the reply before
    }
    try {
        client->IssueCommand("NOOP", -1);
        FAIL();
    } catch (const EIdSMTPReplyError&) {
        FAIL() << "an invalid code is not a refused reply";
    } catch (const EIdException& e) {
        EXPECT_EQ(e.message(), "Reply Code is not valid: 25 s");
    }
    try {
        client->IssueCommand("RCPT TO:<a@h>", {250, 251});
        FAIL();
    } catch (const EIdSMTPReplyError& e) {
        EXPECT_EQ(e.ReplyCode, 550);
        EXPECT_EQ(e.EnhancedCode.ReplyAsStr(), "5.1.1");
    }
    client->Disconnect(false);
    EXPECT_TRUE(server.Wait());
}

TEST(WireTest, MessageGoesOutAsHeaderBlockThenOneSendPerLine) {
    ScopedLocale locale("C");
    ScopedEnv tz("TZ", "AEST-10");
    ScopedClock clock(UtcTime(2026, 12, 7, 4, 5, 9));
    std::string received;
    TcpTestServer server([&](TcpTestPeer& peer, int) { received = peer.ReadUntilClosed(); });
    auto client = ClientFor(server);
    client->Connect();
    std::vector<std::string> sends;
    client->IOHandler()->OnSendNow = [&](const TIdBytes& b) {
        sends.emplace_back(b.begin(), b.end());
    };

    TIdMessage m;
    m.From().Address = "s@h";
    m.Recipients.SetAddressesText("a@h; b@h");
    m.Subject = "Notification Message!";
    m.SetBodyText("Files have been processed.\r\n.hidden");
    TIdMessageWriter().TransmitMessage(*client->IOHandler(), m, false);
    client->Disconnect(false);
    EXPECT_TRUE(server.Wait());

    const std::string expected = "From: \"s@h\" <s@h>\r\n"
                                 "Subject: Notification Message!\r\n"
                                 "To: a@h, b@h\r\n"
                                 "Date: Mon, 7 Dec 2026 14:05:09 +1000\r\n"
                                 "\r\n"
                                 "Files have been processed.\r\n"
                                 "..hidden\r\n"
                                 "\r\n";
    EXPECT_EQ(received, expected);
    ASSERT_EQ(sends.size(), 5u);
    EXPECT_EQ(sends[0].substr(0, 6), "From: ");
    EXPECT_EQ(sends[1], "\r\n");
}
