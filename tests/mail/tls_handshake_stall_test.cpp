// Servers that take the connection and then stall the TLS handshake, silent or sending a byte
// now and then: the handshake ends within the reply limit as a whole, the connection is
// dropped with nothing more written on it, and a quit's cancel ends the wait at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

#include "base/cancellation.h"
#include "core/pass_worker.h"
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
// silence or a trickle until the client goes or `release` is set. Keeps what the client sent
// after the exchange.
void StallHandshake(TcpTestPeer& peer, const Stall& stall, std::string& afterExchange,
                    std::atomic<bool>& stalling, const std::atomic<bool>& release) {
    if (stall.security == 1) {
        peer.Send("220 stall.test\r\n");
        peer.ReadLine();
        peer.Send("250-stall.test\r\n250 STARTTLS\r\n");
        if (peer.ReadLine() != "STARTTLS\r\n")
            return;
        peer.Send("220 go ahead\r\n");
    }
    stalling = true;
    if (stall.trickle)
        peer.Send(std::string("\x16\x03\x03\x00\x40", 5)); // a handshake record of 64 bytes
    for (int i = 0; i < 600 && !release; ++i) {
        if (peer.WaitClosed(stall.trickle ? 200 : 50))
            break;
        if (stall.trickle && i < 60)
            peer.Send("A");
    }
    afterExchange = peer.ReadUntilClosed(0);
}

NotificationMail MailTo(uint16_t port, int security) {
    NotificationMail mail;
    mail.server = "127.0.0.1";
    mail.port = port;
    mail.from = "ferry@example.com";
    mail.to = "clerk@example.com";
    mail.body = "Files have been processed.";
    mail.security = security;
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
        std::atomic<bool> stalling{false}, release{false};
        TcpTestServer server(
            [&](TcpTestPeer& peer, int) { StallHandshake(peer, stall, after, stalling, release); });
        NotificationMail mail = MailTo(server.Port(), stall.security);
        mail.readTimeoutMs = 1500;
        std::string failure;
        const auto start = std::chrono::steady_clock::now();
        SendNotificationMail(mail, [&](const std::exception& e) { failure = e.what(); });
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

TEST(TlsHandshakeStall, CallingTheWorkOffEndsTheHandshakeAtOnce) {
    for (const Stall& stall : kStalls) {
        std::string after;
        std::atomic<bool> stalling{false}, release{false};
        TcpTestServer server(
            [&](TcpTestPeer& peer, int) { StallHandshake(peer, stall, after, stalling, release); });
        // The program's own limit: a minute, far longer than the test may take.
        const NotificationMail mail = MailTo(server.Port(), stall.security);
        std::string failure;
        std::promise<void> ended;
        PassWorker worker;
        ASSERT_TRUE(worker.Start(
            [&] {
                SendNotificationMail(mail, [&](const std::exception& e) { failure = e.what(); });
            },
            [&](std::exception_ptr) { ended.set_value(); }));
        for (int i = 0; i < 500 && !stalling; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(stalling) << stall.name;
        std::this_thread::sleep_for(300ms); // well into the handshake's wait
        const auto asked = std::chrono::steady_clock::now();
        worker.Cancel();
        const bool done = ended.get_future().wait_for(10s) == std::future_status::ready;
        const auto took = std::chrono::steady_clock::now() - asked;
        release = true;
        ASSERT_TRUE(done) << stall.name;
        EXPECT_LT(took, 1s) << stall.name;
        EXPECT_EQ(failure, EOperationCancelled().message()) << stall.name;
        EXPECT_TRUE(server.Wait(5000)) << stall.name;
        EXPECT_EQ(after.find("QUIT"), std::string::npos) << stall.name;
    }
}

} // namespace
} // namespace ferry
