#include "fake_reply.h"
#include "net/id_errors.h"
#include "net/tcp_client.h"
#include "net_test_helpers.h"
#include "support/tcp_server.h"

#include <gtest/gtest.h>

namespace ferry {
namespace {

using test::FakeReply;
using test::FakeReplyError;
using test::TcpTestPeer;
using test::TcpTestServer;

// A client whose protocol says QUIT on disconnect, like the mail session does.
class FakeProtocolClient : public TIdTCPClientCustom {
public:
    FakeProtocolClient() { LastReply = std::make_unique<FakeReply>(); }
    bool QuitRefused = false;

protected:
    void DisconnectNotifyPeer() override { IssueCommand("QUIT", 221); }
};

std::unique_ptr<FakeProtocolClient> ClientFor(const TcpTestServer& server) {
    auto client = std::make_unique<FakeProtocolClient>();
    client->SetHost("127.0.0.1");
    client->SetPort(server.Port());
    client->SetReadTimeout(5000);
    return client;
}

TEST(CommandEngine, NoConnectionObjectMeansNotConnected) {
    FakeProtocolClient client;
    try {
        client.IssueCommand("NOOP", {});
        FAIL();
    } catch (const EIdNotConnected& e) {
        EXPECT_EQ(e.message(), "Not connected.");
    }
    EXPECT_THROW(client.ReadReply(), EIdNotConnected);
    EXPECT_THROW(client.AwaitReply(220), EIdNotConnected);
}

TEST(CommandEngine, DialogueWithMultiLineRepliesAndAcceptedLists) {
    std::string transcript;
    TcpTestServer server([&](TcpTestPeer& peer, int) {
        peer.Send("\r\n\r\n   220 ready   \r\n");
        transcript += peer.ReadLine();
        peer.Send("250-mail.example\r\n250-PIPELINING\r\n250 8BITMIME\r\n");
        transcript += peer.ReadLine();
        // "251xabc" does not end the reply: its 4th character is not a blank.
        peer.Send("251xabc\r\n251 ok\r\n");
        transcript += peer.ReadLine();
        peer.Send("252 no\r\n");
        transcript += peer.ReadLine();
        peer.Send("500 whatever\r\n");
        transcript += peer.ReadLine();
        peer.Send("221 bye\r\n");
        transcript += peer.ReadUntilClosed();
    });
    auto client = ClientFor(server);
    client->Connect();
    EXPECT_EQ(client->AwaitReply(220), 220);
    EXPECT_EQ(client->LastReply->Text, std::vector<std::string>{"ready"});

    EXPECT_EQ(client->IssueCommand("EHLO me", -1), 250);
    EXPECT_EQ(client->LastReply->Text,
              (std::vector<std::string>{"mail.example", "PIPELINING", "8BITMIME"}));

    EXPECT_EQ(client->IssueCommand("RCPT TO:<a@b>", {250, 251}), 251);
    EXPECT_EQ(client->LastReply->Text, (std::vector<std::string>{"abc", "ok"}));
    try {
        client->IssueCommand("RCPT TO:<c@d>", {250, 251});
        FAIL();
    } catch (const FakeReplyError& e) {
        EXPECT_EQ(e.Code, 252);
        EXPECT_EQ(e.message(), "no\r\n");
    }
    EXPECT_EQ(client->IssueCommand("VRFY x", std::vector<int>{}), 500);
    client->Disconnect();
    EXPECT_TRUE(server.Wait());
    EXPECT_EQ(transcript, "EHLO me\r\nRCPT TO:<a@b>\r\nRCPT TO:<c@d>\r\nVRFY x\r\nQUIT\r\n");
}

TEST(CommandEngine, SingleCodeFormOfAwaitReplyHasNoWildcard) {
    TcpTestServer server([](TcpTestPeer& peer, int) {
        peer.Send("250 ok\r\n");
        peer.WaitClosed();
    });
    auto client = ClientFor(server);
    client->Connect();
    EXPECT_THROW(client->AwaitReply(-1), FakeReplyError);
    client->Disconnect(false);
}

TEST(CommandEngine, CommandWithLineBreakIsRefusedBeforeAnythingIsWritten) {
    std::string received;
    TcpTestServer server([&](TcpTestPeer& peer, int) { received = peer.ReadUntilClosed(); });
    auto client = ClientFor(server);
    client->Connect();
    int sends = 0;
    client->IOHandler()->OnSendNow = [&](const TIdBytes&) { ++sends; };
    for (std::string injected : {"MAIL FROM:<a@b>\r\nRCPT TO:<x@y>", "RCPT TO:<x@y>\n", "A\rB"}) {
        try {
            client->IssueCommand(injected, -1);
            FAIL() << injected;
        } catch (const EIdException& e) {
            EXPECT_EQ(e.message(), "Line to write holds a CR or LF.");
        }
    }
    EXPECT_EQ(sends, 0);
    client->Disconnect(false);
    EXPECT_TRUE(server.Wait());
    EXPECT_EQ(received, "");
}

TEST(CommandEngine, FailedReadKeepsPreviousReplyAndDisconnectStillCloses) {
    TcpTestServer server([](TcpTestPeer& peer, int) {
        peer.Send("220 first\r\n");
        peer.ReadLine();
        peer.Send("250-partial\r\n");
    });
    auto client = ClientFor(server);
    int disconnected = 0;
    client->OnDisconnected = [&](TIdTCPConnection*) { ++disconnected; };
    client->Connect();
    client->AwaitReply(220);
    EXPECT_THROW(client->IssueCommand("NOOP", 250), EIdConnClosedGracefully);
    EXPECT_EQ(client->LastReply->Code(), "220");
    EXPECT_EQ(client->LastReply->Text, std::vector<std::string>{"first"});
    // The peer is gone and nothing is left unread: no QUIT is tried, the handler is closed.
    EXPECT_NO_THROW(client->Disconnect(true));
    EXPECT_FALSE(client->IOHandler()->IsOpen());
    EXPECT_EQ(disconnected, 0) << "the peer close already closed the handler";
    EXPECT_TRUE(server.Wait());
}

TEST(CommandEngine, RefusedQuitIsRaisedAfterTheConnectionIsClosed) {
    TcpTestServer server([](TcpTestPeer& peer, int) {
        EXPECT_EQ(peer.ReadLine(), "QUIT\r\n");
        peer.Send("500 not now\r\n");
        peer.WaitClosed();
    });
    auto client = ClientFor(server);
    int disconnected = 0;
    client->OnDisconnected = [&](TIdTCPConnection*) { ++disconnected; };
    client->Connect();
    EXPECT_THROW(client->Disconnect(true), FakeReplyError);
    EXPECT_FALSE(client->IOHandler()->IsOpen());
    EXPECT_EQ(disconnected, 1);
    EXPECT_TRUE(server.Wait());
}

TEST(CommandEngine, ReplyThatNeverComesWithinReadTimeoutIsAReadTimeout) {
    TcpTestServer server([](TcpTestPeer& peer, int) { peer.WaitClosed(); });
    auto client = ClientFor(server);
    client->SetReadTimeout(100);
    client->Connect();
    EXPECT_THROW(client->AwaitReply(220), EIdReadTimeout);
    client->Disconnect(false);
}

} // namespace
} // namespace ferry
