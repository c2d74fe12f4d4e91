#include "net/id_errors.h"
#include "net/io_handler_stack.h"
#include "net/socket_errors.h"
#include "net/tcp_client.h"
#include "net_test_helpers.h"
#include "support/tcp_server.h"

#include <cctype>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>

namespace ferry {
namespace {

using test::LookupSeam;
using test::LoopbackClient;
using test::TcpTestPeer;
using test::TcpTestServer;

bool DescriptorOpen(int fd) {
    return fd >= 0 && fcntl(fd, F_GETFD) != -1;
}

TEST(TcpClient, RefusedPortGivesWinsockCodeAndText) {
    auto client = LoopbackClient(test::UnusedLoopbackPort());
    try {
        client->Connect();
        FAIL() << "connect to a closed port succeeded";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.Code, 10061);
        EXPECT_EQ(e.message(), "Socket Error # 10061\r\nConnection refused.");
    }
    // The handler the client made for the failed connect is gone; disconnect does nothing.
    EXPECT_EQ(client->IOHandler(), nullptr);
    EXPECT_NO_THROW(client->Disconnect());
    EXPECT_FALSE(client->IsConnected());
}

TEST(TcpClient, HostAndPortAreRequired) {
    TIdTCPClientCustom client;
    client.SetPort(25);
    EXPECT_THROW(client.Connect(), EIdHostRequired);
    client.SetHost("127.0.0.1");
    client.SetPort(0);
    try {
        client.Connect();
        FAIL();
    } catch (const EIdPortRequired& e) {
        EXPECT_EQ(e.message(), "");
    }
}

TEST(TcpClient, NegativePortOpensWithoutSocketAndFirstReadFindsItClosed) {
    auto client = LoopbackClient(-5);
    client->Connect();
    auto* handler = dynamic_cast<TIdIOHandlerStack*>(client->IOHandler());
    ASSERT_NE(handler, nullptr);
    EXPECT_TRUE(handler->IsOpen());
    EXPECT_FALSE(handler->Binding()->HandleAllocated());
    try {
        handler->ReadLine();
        FAIL();
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.message(), "Connection Closed Gracefully.");
    }
}

TEST(TcpClient, PortAboveRangeRaisesAfterSocketIsMadeAndClosesIt) {
    auto client = LoopbackClient(65536);
    int seen = -1;
    client->OnAfterBind = [&](TIdIOHandlerSocket* h) { seen = h->Binding()->Handle(); };
    try {
        client->Connect();
        FAIL();
    } catch (const ERangeError& e) {
        EXPECT_EQ(e.message(), "Range check error");
    }
    EXPECT_GE(seen, 0) << "the socket is made and bound before the address is built";
    EXPECT_FALSE(DescriptorOpen(seen));
    EXPECT_EQ(client->IOHandler(), nullptr);
}

TEST(TcpClient, ConnectWhileConnectedLeavesConnectionIntactAndSecondDisconnectIsQuiet) {
    TcpTestServer server([](TcpTestPeer& peer, int) {
        peer.Send("hello\r\n");
        EXPECT_EQ(peer.ReadLine(), "after\r\n");
        peer.WaitClosed();
    });
    auto client = LoopbackClient(server.Port());
    std::vector<std::string> statuses;
    client->OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) {
        statuses.push_back(text);
    };
    int disconnected = 0;
    client->OnDisconnected = [&](TIdTCPConnection*) { ++disconnected; };
    client->Connect();
    try {
        client->Connect();
        FAIL();
    } catch (const EIdAlreadyConnected& e) {
        EXPECT_EQ(e.message(), "Already connected.");
    }
    EXPECT_TRUE(client->IsConnected());
    EXPECT_EQ(client->IOHandler()->ReadLine(), "hello");
    client->IOHandler()->WriteLine("after");
    client->Disconnect();
    client->Disconnect();
    EXPECT_EQ(disconnected, 1);
    EXPECT_TRUE(server.Wait());
    std::vector<std::string> expected = {"Connecting to 127.0.0.1.", "Connected.", "Disconnecting.",
                                         "Disconnected."};
    EXPECT_EQ(statuses, expected);
}

TEST(TcpClient, LocalhostInAnyCaseAndDottedQuadsConnectWithoutLookup) {
    TcpTestServer server([](TcpTestPeer& peer, int) { peer.WaitClosed(); }, 4);
    LookupSeam seam(EAI_NONAME);
    for (std::string host : {"localhost", "LocalHost", "LOCALHOST", "127.0.0.1."}) {
        auto client = LoopbackClient(server.Port(), host);
        std::vector<TIdStatus> statuses;
        client->OnStatus = [&](TIdComponent*, TIdStatus s, const std::string&) {
            statuses.push_back(s);
        };
        ASSERT_NO_THROW(client->Connect()) << host;
        auto* handler = dynamic_cast<TIdIOHandlerStack*>(client->IOHandler());
        EXPECT_EQ(handler->Binding()->PeerIP, "127.0.0.1") << host;
        EXPECT_EQ(handler->Binding()->PeerPort, server.Port());
        bool resolving = std::find(statuses.begin(), statuses.end(), hsResolving) != statuses.end();
        // Only a dotted quad skips the resolving notice; localhost is resolved by name rule.
        EXPECT_EQ(resolving, host[0] == 'l' || host[0] == 'L') << host;
        client->Disconnect();
    }
    EXPECT_EQ(seam.Calls, 0);
    EXPECT_TRUE(server.Wait());
}

TEST(TcpClient, NamesThatAreNotDottedQuadsGoToTheLookup) {
    TcpTestServer server([](TcpTestPeer& peer, int) { peer.WaitClosed(); }, 2);
    LookupSeam seam(0, {{127, 0, 0, 1}, {10, 9, 9, 9}});
    for (std::string host : {"10.0.0.1.5", "300.1.1.1"}) {
        auto client = LoopbackClient(server.Port(), host);
        std::vector<std::string> statuses;
        client->OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) {
            statuses.push_back(text);
        };
        ASSERT_NO_THROW(client->Connect()) << host;
        ASSERT_GE(statuses.size(), 2u);
        EXPECT_EQ(statuses[0], "Resolving hostname " + host + ".");
        EXPECT_EQ(statuses[1], "Connecting to 127.0.0.1.");
        EXPECT_EQ(seam.LastHost, host);
        // The first address found is the one connected to.
        auto* handler = dynamic_cast<TIdIOHandlerStack*>(client->IOHandler());
        EXPECT_EQ(handler->Binding()->PeerIP, "127.0.0.1");
        client->Disconnect();
    }
    EXPECT_EQ(seam.Calls, 2);
    EXPECT_TRUE(server.Wait());
}

TEST(TcpClient, UnknownHostIsReportedThroughTheLookupCodes) {
    {
        LookupSeam seam(EAI_NONAME);
        auto client = LoopbackClient(25, "no-such-host.invalid");
        try {
            client->Connect();
            FAIL();
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.Code, 11001);
            EXPECT_EQ(e.message(), "Socket Error # 11001\r\nHost not found.");
        }
    }
    {
        LookupSeam seam(EAI_NODATA);
        auto client = LoopbackClient(25, "no-address.invalid");
        try {
            client->Connect();
            FAIL();
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.Code, 11004);
            EXPECT_EQ(e.message(), "Socket Error # 11004\r\n");
        }
    }
}

TEST(TcpClient, ConnectTimeoutGivesUpOnUnansweredConnect) {
    test::FullBacklogListener listener;
    if (!listener.Ready())
        GTEST_SKIP() << "could not fill a loopback accept queue here";
    auto timed = [&](int limit) {
        auto client = LoopbackClient(listener.Port());
        client->SetConnectTimeout(limit);
        auto start = std::chrono::steady_clock::now();
        try {
            client->Connect();
            ADD_FAILURE() << "connect to a full accept queue succeeded";
        } catch (const EIdConnectTimeout& e) {
            EXPECT_EQ(e.message(), "Connect timed out.");
        }
        EXPECT_EQ(client->IOHandler(), nullptr);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    double oneSecond = timed(1000);
    double halfSecond = timed(500);
    // The wait is made of fixed sleeps, so it cannot end early; compare with a half limit
    // measured in the same run rather than with the wall clock.
    EXPECT_GE(oneSecond, 1.0);
    EXPECT_GE(halfSecond, 0.5);
    EXPECT_NEAR(oneSecond / halfSecond, 2.0, 0.6);
}

TEST(TcpClient, ConnectTimeoutPassesOnSuccessAndOnRefusal) {
    TcpTestServer server([](TcpTestPeer& peer, int) { peer.Send("x\n"); });
    auto client = LoopbackClient(server.Port());
    client->SetConnectTimeout(1000);
    client->Connect();
    EXPECT_EQ(client->IOHandler()->ReadLine(), "x");
    client->Disconnect();

    auto refused = LoopbackClient(test::UnusedLoopbackPort());
    refused->SetConnectTimeout(-1);
    try {
        refused->Connect();
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.Code, 10061);
    }
}

TEST(TcpClient, UseNagleSetsNoDelayOppositeAndFollowsChanges) {
    TcpTestServer server([](TcpTestPeer& peer, int) { peer.WaitClosed(); });
    auto client = LoopbackClient(server.Port());
    client->Connect();
    auto* handler = dynamic_cast<TIdIOHandlerStack*>(client->IOHandler());
    int fd = handler->Binding()->Handle();
    auto nodelay = [&] {
        int v = -1;
        socklen_t len = sizeof v;
        getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &v, &len);
        return v;
    };
    EXPECT_EQ(nodelay(), 0);
    client->SetUseNagle(false);
    EXPECT_EQ(nodelay(), 1);
    client->Disconnect();
}

TEST(TcpClient, BindsToGivenPortAndSearchesPortRangeFromTop) {
    TcpTestServer server([](TcpTestPeer& peer, int) { peer.WaitClosed(); }, 2);
    uint16_t free1 = test::UnusedLoopbackPort();
    auto client = LoopbackClient(server.Port());
    client->SetBoundIP("127.0.0.1");
    client->SetBoundPort(free1);
    client->Connect();
    auto* handler = dynamic_cast<TIdIOHandlerStack*>(client->IOHandler());
    EXPECT_EQ(handler->Binding()->Port, free1);
    EXPECT_EQ(handler->Binding()->IP, "127.0.0.1");

    // The port just taken cannot be bound by a second client.
    auto second = LoopbackClient(server.Port());
    second->SetBoundIP("127.0.0.1");
    second->SetBoundPort(free1);
    try {
        second->Connect();
        FAIL();
    } catch (const EIdCouldNotBindSocket& e) {
        EXPECT_EQ(e.message(), "Could not bind socket. Address and port are already in use.");
    }
    // A range whose top is taken falls to the next port down.
    second->SetBoundPort(0);
    second->SetBoundPortRange(free1 - 1, free1);
    try {
        second->Connect();
        auto* h2 = dynamic_cast<TIdIOHandlerStack*>(second->IOHandler());
        EXPECT_EQ(h2->Binding()->Port, free1 - 1);
        second->Disconnect();
    } catch (const EIdCanNotBindPortInRange&) {
        // free1 - 1 happened to be in use on this machine; the range error is then right.
    }
    second->SetBoundPortRange(free1, free1);
    try {
        second->Connect();
        FAIL();
    } catch (const EIdCanNotBindPortInRange& e) {
        EXPECT_EQ(e.message(), "Can not bind in port range (" + std::to_string(free1) + " - " +
                                   std::to_string(free1) + ")");
    }
    second->SetBoundPortRange(20, 10);
    try {
        second->Connect();
        FAIL();
    } catch (const EIdInvalidPortRange& e) {
        EXPECT_EQ(e.message(), "Invalid Port Range (20 - 10)");
    }
    client->Disconnect();
}

} // namespace
} // namespace ferry

namespace ferry {
namespace {

// Records what it is told and rewrites received bytes, as a codec would.
class RecordingIntercept : public TIdConnectionIntercept {
public:
    std::vector<std::string> Events;
    void Connect(TIdIOHandler*) override { Events.push_back("connect"); }
    void Disconnect() override { Events.push_back("disconnect"); }
    void Send(TIdBytes& bytes) override {
        Events.push_back("send " + BytesToString(bytes));
        bytes.push_back('!');
    }
    void Receive(TIdBytes& bytes) override {
        // Keeps back a lone "x" so that a receive can end up empty.
        if (bytes == TIdBytes{'x'})
            bytes.clear();
        for (auto& b : bytes)
            b = static_cast<uint8_t>(std::toupper(b));
    }
};

TEST(TcpClient, InterceptSeesConnectTrafficAndDisconnect) {
    std::string received;
    TcpTestServer server([&](TcpTestPeer& peer, int) {
        peer.Send("x");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        peer.Send("hello\n");
        received = peer.ReadUntilClosed();
    });
    // Declared first: the handler refers to it until the client is gone.
    RecordingIntercept intercept;
    auto client = LoopbackClient(server.Port());
    client->SetReadTimeout(5000);
    client->SetIOHandler(std::make_unique<TIdIOHandlerStack>());
    client->IOHandler()->Intercept = &intercept;
    client->Connect();
    // The swallowed "x" is not taken for the peer closing.
    EXPECT_EQ(client->IOHandler()->ReadLine(), "HELLO");
    client->IOHandler()->WriteText("hi");
    client->Disconnect();
    EXPECT_TRUE(server.Wait());
    EXPECT_EQ(received, "hi!");
    EXPECT_EQ(intercept.Events, (std::vector<std::string>{"connect", "send hi", "disconnect"}));
}

} // namespace
} // namespace ferry

namespace ferry {
namespace {

TEST(TcpClient, DestinationTextSplitsAtLastColon) {
    TIdIOHandlerStack h;
    h.DefaultPort = 25;
    h.SetDestination("mail.example:  2525 ");
    EXPECT_EQ(h.Host, "mail.example");
    EXPECT_EQ(h.Port, 2525);
    EXPECT_EQ(h.Destination(), "mail.example:2525");
    h.SetDestination("other:smtp");
    EXPECT_EQ(h.Port, 25);
    EXPECT_EQ(h.Destination(), "other");
    h.SetDestination("no-colon");
    EXPECT_EQ(h.Host, "other");
    h.SetDestination("fe80::1:587");
    EXPECT_EQ(h.Host, "fe80::1");
    EXPECT_EQ(h.Port, 587);
    h.Port = -3;
    EXPECT_EQ(h.Destination(), "fe80::1");
}

} // namespace
} // namespace ferry
