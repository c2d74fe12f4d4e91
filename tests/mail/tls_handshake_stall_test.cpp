// Servers that take the connection and then stall the TLS handshake, silent or sending a byte
// now and then: the handshake ends within the reply limit as a whole, and the connection is
// dropped with nothing more written on it. (A quit during the wait: tests/ui.)
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "mail/notification.h"
#include "support/tcp_server.h"

namespace ferry {
namespace {

using namespace std::chrono_literals;
using test::TcpTestPeer;
using test::TcpTestServer;

struct Stall {
    const char* name;
    int security; // 1 STARTTLS, 2 TLS from the first byte
    bool trickle; // a record header, then a byte every 200 ms
};

// The server's side of a stall: the clear-text exchange up to STARTTLS when asked for, then
// silence or a trickle until the client goes (two minutes at most). Gives what the client sent
// after the exchange.
std::string StallHandshake(TcpTestPeer& peer, const Stall& stall) {
    if (stall.security == 1) {
        peer.Send("220 stall.test\r\n");
        peer.ReadLine();
        peer.Send("250-stall.test\r\n250 STARTTLS\r\n");
        if (peer.ReadLine() != "STARTTLS\r\n")
            return {};
        peer.Send("220 go ahead\r\n");
    }
    if (stall.trickle)
        peer.Send(std::string("\x16\x03\x03\x00\x40", 5)); // a handshake record of 64 bytes
    for (int i = 0; i < 600; ++i) {
        if (peer.WaitClosed(stall.trickle ? 200 : 50))
            break;
        if (stall.trickle && i < 60)
            peer.Send("A");
    }
    return peer.ReadUntilClosed(0);
}

TMailSettings MailTo(uint16_t port, int security) {
    TMailSettings mail;
    mail.SMTPServer = "127.0.0.1";
    mail.SMTPPort = port;
    mail.SMTPFrom = "ferry@example.com";
    mail.SMTPTo = "clerk@example.com";
    mail.SMTPMessage = "Files have been processed.";
    mail.SMTPSecurity = static_cast<TMailSecurity>(security);
    return mail;
}

const Stall kStalls[] = {
    {"STARTTLS, silent after the consent", 1, false},
    {"TLS from the first byte, silent", 2, false},
    {"TLS from the first byte, trickling", 2, true},
};

TEST(TlsHandshakeStall, EndsWithinTheReplyLimitAndSendsNothingAfter) {
    for (const Stall& stall : kStalls) {
        std::string after;
        TcpTestServer server([&](TcpTestPeer& peer, int) { after = StallHandshake(peer, stall); });
        const TMailSettings mail = MailTo(server.Port(), stall.security);
        std::string failure;
        const auto start = std::chrono::steady_clock::now();
        SendNotificationMail(mail, "", MailLimits{30000, 1500},
                             [&](const std::exception& e) { failure = e.what(); });
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(server.Wait(5000)) << stall.name;

        EXPECT_EQ(failure, stall.trickle
                               ? "The TLS handshake with 127.0.0.1 did not finish within 1.5 "
                                 "seconds."
                               : "The TLS handshake with 127.0.0.1 timed out: the server sent "
                                 "nothing within 1.5 seconds.")
            << stall.name;
        EXPECT_GE(took, 1400ms) << stall.name;
        EXPECT_LT(took, 4s) << stall.name << ": the limit is for the whole handshake";
        // The client's hello and nothing more: no QUIT, in clear or into the half-made session.
        ASSERT_FALSE(after.empty()) << stall.name;
        EXPECT_EQ(after[0], '\x16') << stall.name;
        EXPECT_EQ(after.find("QUIT"), std::string::npos) << stall.name;
    }
}

} // namespace
} // namespace ferry
