#include "net/id_errors.h"
#include "net/io_handler_stack.h"
#include "net/socket_errors.h"
#include "net/tcp_client.h"
#include "net_test_helpers.h"
#include "support/chunk_io_handler.h"
#include "support/tcp_server.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace ferry {
namespace {

using test::LoopbackClient;
using test::TcpTestPeer;
using test::TcpTestServer;

// A client connected to a scripted loopback server, counting SendNow calls.
struct Connected {
    explicit Connected(TcpTestServer::Script script) : Server(std::move(script)) {
        Client = LoopbackClient(Server.Port());
        Client->Connect();
        IO = Client->IOHandler();
        IO->OnSendNow = [this](const TIdBytes& bytes) { Sends.push_back(BytesToString(bytes)); };
    }
    ~Connected() {
        Client->Disconnect();
        EXPECT_TRUE(Server.Wait());
    }
    TcpTestServer Server;
    std::unique_ptr<TIdTCPClientCustom> Client;
    TIdIOHandler* IO = nullptr;
    std::vector<std::string> Sends;
};

TEST(LineIO, LineEndingsAndLinesInOneReceive) {
    Connected c([](TcpTestPeer& peer, int) {
        peer.Send("220 ready\r\n221 bare\nin\rside\r\n");
        peer.WaitClosed();
    });
    c.Client->SetReadTimeout(5000);
    EXPECT_EQ(c.IO->ReadLine(), "220 ready");
    EXPECT_EQ(c.IO->InputQueue()->Size(), 18);
    // The rest arrived with the first receive; it is cut from the queue without waiting.
    EXPECT_EQ(c.IO->ReadLine(), "221 bare");
    EXPECT_EQ(c.IO->ReadLine(), "in\rside");
    EXPECT_FALSE(c.IO->LineTimedOut());
}

// The same bytes cut at every position, and one byte per receive: the lines never depend on
// how the stream was split (a CR LF torn apart included).
TEST(LineIO, LinesDoNotDependOnHowTheBytesWereCut) {
    const std::string stream = "250-one\r\n250-two\n250 three\r\n";
    const std::vector<std::string> lines = {"250-one", "250-two", "250 three"};
    auto readAll = [](std::vector<std::string> chunks) {
        test::ChunkIOHandler io(std::move(chunks));
        io.Open();
        std::vector<std::string> got;
        for (int i = 0; i < 3; ++i)
            got.push_back(io.ReadLine());
        EXPECT_THROW(io.ReadLine(), EIdConnClosedGracefully);
        return got;
    };
    for (size_t cut = 0; cut <= stream.size(); ++cut)
        EXPECT_EQ(readAll({stream.substr(0, cut), stream.substr(cut)}), lines) << "cut at " << cut;
    for (size_t a = 1; a < stream.size(); ++a)
        for (size_t b = a + 1; b < stream.size(); ++b)
            ASSERT_EQ(readAll({stream.substr(0, a), stream.substr(a, b - a), stream.substr(b)}),
                      lines)
                << "cut at " << a << " and " << b;
    std::vector<std::string> bytes;
    for (char ch : stream)
        bytes.emplace_back(1, ch);
    EXPECT_EQ(readAll(bytes), lines);
}

TEST(LineIO, LineLengthLimitCountsBytesBeforeTheLFWithCR) {
    const std::string limit(16384, 'a');
    Connected c([&](TcpTestPeer& peer, int) {
        // 16384 before the LF, then 16383 plus CR (also 16384), then 16384 plus CR (16385).
        peer.Send(limit + "\n" + std::string(16383, 'c') + "\r\n" + limit + "\r\n");
        peer.WaitClosed();
    });
    c.Client->SetReadTimeout(5000);
    EXPECT_EQ(c.IO->ReadLine(), limit);
    EXPECT_EQ(c.IO->ReadLine(), std::string(16383, 'c'));
    try {
        c.IO->ReadLine();
        FAIL() << "16385 bytes before the LF were accepted";
    } catch (const EIdReadLnMaxLineLengthExceeded& e) {
        EXPECT_EQ(e.message(), "Max line length exceeded.");
    }
    // Nothing was taken from the queue.
    while (c.IO->InputQueue()->Size() < 16386)
        ASSERT_GT(c.IO->FillInputBuffer(true, 5000, false), 0);
    EXPECT_EQ(c.IO->InputQueue()->Size(), 16386);
}

TEST(LineIO, OverlongLineIsRefusedBeforeAnyLFArrives) {
    Connected c([&](TcpTestPeer& peer, int) {
        peer.Send(std::string(16385, 'b'));
        // The LF would come only after the client answers, which it never does.
        peer.WaitClosed();
    });
    c.Client->SetReadTimeout(5000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(c.IO->ReadLine(), EIdReadLnMaxLineLengthExceeded);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_FALSE(c.IO->LineTimedOut());
}

TEST(LineIO, TerminatorOfTwoBytesSplitAcrossReceivesIsFound) {
    const std::string limit(16384, 'a');
    Connected c([&](TcpTestPeer& peer, int) {
        int one = 1;
        setsockopt(peer.Fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        peer.Send("abc\r");
        EXPECT_EQ(peer.ReadLine(), "go\r\n");
        peer.Send("\nrest");
        EXPECT_EQ(peer.ReadLine(), "go\r\n");
        // A line at the limit whose CR arrives before its LF is still a line at the limit.
        peer.Send(limit + "\r");
        EXPECT_EQ(peer.ReadLine(), "go\r\n");
        peer.Send("\n");
        peer.WaitClosed();
    });
    c.Client->SetReadTimeout(5000);
    ASSERT_GT(c.IO->FillInputBuffer(true, 5000, false), 0);
    c.IO->WriteLine("go");
    EXPECT_EQ(c.IO->ReadLine("\r\n"), "abc");
    EXPECT_FALSE(c.IO->LineTimedOut());
    EXPECT_EQ(c.IO->ReadLine("\r\n", 300), "");
    EXPECT_TRUE(c.IO->LineTimedOut());
    EXPECT_EQ(c.IO->InputQueue()->ExtractToString(), "rest");
    c.IO->MaxLineAction = maSplit;
    c.IO->WriteLine("go");
    while (c.IO->InputQueue()->Size() < 16385)
        ASSERT_GT(c.IO->FillInputBuffer(true, 5000, false), 0);
    c.IO->WriteLine("go");
    EXPECT_EQ(c.IO->ReadLine("\r\n"), limit);
    EXPECT_FALSE(c.IO->LineWasSplit());
}

TEST(LineIO, SplitModeCutsLongLineAtLimit) {
    Connected c([](TcpTestPeer& peer, int) {
        peer.Send(std::string(20000, 'z') + "\r\n");
        peer.WaitClosed();
    });
    c.Client->SetReadTimeout(5000);
    c.IO->MaxLineAction = maSplit;
    // Wait until the whole line is queued so the cut does not depend on receive sizes.
    while (c.IO->InputQueue()->Size() < 20002)
        ASSERT_GT(c.IO->FillInputBuffer(true, 5000, false), 0);
    std::string first = c.IO->ReadLine();
    EXPECT_EQ(first.size(), 16384u);
    EXPECT_TRUE(c.IO->LineWasSplit());
    std::string second = c.IO->ReadLine();
    EXPECT_EQ(second, std::string(3616, 'z'));
    EXPECT_FALSE(c.IO->LineWasSplit());
}

TEST(LineIO, PeerClosingAfterPartialLineRaisesAndKeepsIt) {
    Connected c([](TcpTestPeer& peer, int) { peer.Send("250 par"); });
    c.Client->SetReadTimeout(5000);
    try {
        c.IO->ReadLine();
        FAIL();
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.message(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(c.IO->InputQueue()->ExtractToString(), "250 par");
    // Writing after the peer has gone is refused the same way.
    EXPECT_THROW(c.IO->WriteLine("QUIT"), EIdConnClosedGracefully);
    EXPECT_TRUE(c.Sends.empty());
}

TEST(LineIO, TwoLinesThenCloseAreBothReadable) {
    Connected c([](TcpTestPeer& peer, int) { peer.Send("one\r\ntwo\r\n"); });
    c.Client->SetReadTimeout(5000);
    EXPECT_EQ(c.IO->ReadLine(), "one");
    // Wait for the close to be seen while a line is still queued: the client stays connected.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(c.Client->IsConnected());
    EXPECT_EQ(c.IO->ReadLine(), "two");
    // Nothing left unread: the connected test notices the close (bounded wait for the FIN).
    bool connected = true;
    for (int i = 0; i < 200 && connected; ++i) {
        connected = c.Client->IsConnected();
        if (connected)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(connected);
    EXPECT_THROW(c.IO->ReadLine(), EIdConnClosedGracefully);
}

TEST(LineIO, ReadNonBlankLineSkipsBlankLines) {
    Connected c([](TcpTestPeer& peer, int) {
        peer.Send("\r\n   \r\n\t\r\n  220 x  \r\n");
        peer.WaitClosed();
    });
    c.Client->SetReadTimeout(5000);
    EXPECT_EQ(c.IO->ReadNonBlankLine(), "220 x");
}

TEST(LineIO, ReadLineTimeoutReturnsEmptyAndKeepsBytes) {
    Connected c([](TcpTestPeer& peer, int) {
        peer.Send("no end yet");
        peer.WaitClosed();
    });
    EXPECT_EQ(c.IO->ReadLine("\n", 200), "");
    EXPECT_TRUE(c.IO->LineTimedOut());
    EXPECT_EQ(c.IO->InputQueue()->Size(), 10);
    try {
        c.IO->FillInputBuffer(true, 50, true);
        FAIL();
    } catch (const EIdReadTimeout& e) {
        EXPECT_EQ(e.message(), "Read Timeout");
    }
    EXPECT_EQ(c.IO->FillInputBuffer(true, 50, false), -1);
}

TEST(LineIO, ReadTimeoutZeroWaitsWithoutLimitLikeMinusOne) {
    Connected c([](TcpTestPeer& peer, int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        peer.Send("late\r\n");
        peer.WaitClosed();
    });
    c.Client->SetReadTimeout(0);
    EXPECT_EQ(c.IO->ReadLine(), "late");
    EXPECT_FALSE(c.IO->LineTimedOut());
}

TEST(LineIO, WritesGoOutOneSendEachAndEmptyTextSendsNothing) {
    std::string received;
    Connected c([&](TcpTestPeer& peer, int) { received = peer.ReadUntilClosed(); });
    c.IO->WriteText("");
    c.IO->WriteBytes({});
    EXPECT_TRUE(c.Sends.empty());
    c.IO->WriteLine("");
    c.IO->WriteLine("a");
    EXPECT_EQ(c.Sends, (std::vector<std::string>{"\r\n", "a\r\n"}));
    c.Client->Disconnect();
    c.Server.Wait();
    EXPECT_EQ(received, "\r\na\r\n");
}

TEST(LineIO, LineBreaksInsideALineAreRefusedBeforeWriting) {
    std::string received;
    Connected c([&](TcpTestPeer& peer, int) { received = peer.ReadUntilClosed(); });
    for (std::string bad : {"RCPT TO:<a>\r\nDATA", "x\n", "\r"}) {
        EXPECT_THROW(c.IO->WriteLine(bad), EIdException);
    }
    c.IO->BeginBuffering();
    c.IO->WriteLine("ok");
    EXPECT_THROW(c.IO->WriteLine("no\r\nway"), EIdException);
    c.IO->EndBuffering();
    EXPECT_EQ(c.Sends, (std::vector<std::string>{"ok\r\n"}));
    c.Client->Disconnect();
    c.Server.Wait();
    EXPECT_EQ(received, "ok\r\n");
}

TEST(LineIO, BufferingSendsInOnePieceDropsOnRestartAndCancelSendsNothing) {
    std::string received;
    Connected c([&](TcpTestPeer& peer, int) { received = peer.ReadUntilClosed(); });
    c.IO->BeginBuffering();
    c.IO->WriteLine("RSET");
    c.IO->WriteLine("MAIL FROM: <a@b>");
    EXPECT_TRUE(c.Sends.empty());
    c.IO->EndBuffering();
    EXPECT_EQ(c.Sends, (std::vector<std::string>{"RSET\r\nMAIL FROM: <a@b>\r\n"}));

    c.IO->BeginBuffering();
    c.IO->WriteLine("dropped");
    c.IO->BeginBuffering();
    c.IO->WriteLine("kept");
    c.IO->EndBuffering();
    EXPECT_EQ(c.Sends.back(), "kept\r\n");

    c.IO->BeginBuffering();
    c.IO->WriteLine("cancelled");
    c.IO->CancelBuffering();
    EXPECT_FALSE(c.IO->IsBuffering());
    EXPECT_EQ(c.Sends.size(), 2u);

    c.IO->WriteLines({"one", "two", "three"});
    EXPECT_EQ(c.Sends.back(), "one\r\ntwo\r\nthree\r\n");

    // A threshold sends that many bytes as soon as they are collected.
    c.IO->BeginBuffering(4);
    c.IO->WriteText("abcdef");
    EXPECT_EQ(c.Sends.back(), "abcd");
    c.IO->EndBuffering();
    EXPECT_EQ(c.Sends.back(), "ef");

    c.Client->Disconnect();
    c.Server.Wait();
    EXPECT_EQ(received, "RSET\r\nMAIL FROM: <a@b>\r\nkept\r\none\r\ntwo\r\nthree\r\nabcdef");
}

TEST(LineIO, SendToVanishedPeerRaisesSocketErrorInsteadOfKillingProcess) {
    // The peer resets only once the client is fully connected and has spoken, so the
    // reset cannot land inside Connect itself.
    Connected c([](TcpTestPeer& peer, int) {
        peer.ReadLine();
        peer.Reset();
    });
    c.IO->WriteLine("HELLO");
    ASSERT_TRUE(c.Server.Wait());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // Without MSG_NOSIGNAL one of these sends would end the test program with SIGPIPE.
    try {
        for (int i = 0; i < 100; ++i) {
            c.IO->WriteLine("DATA");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        FAIL() << "sends to a reset connection kept succeeding";
    } catch (const EIdSocketError& e) {
        EXPECT_TRUE(e.Code == 10054 || e.Code == 10058) << e.Code;
        EXPECT_EQ(e.message(), SocketErrorText(e.Code));
    }
}

TEST(LineIO, WaitingWorksOnDescriptorsAboveTheSelectLimit) {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_cur < 1200) {
        rlimit raised = lim;
        raised.rlim_cur = std::min<rlim_t>(lim.rlim_max, 2048);
        if (raised.rlim_cur < 1200 || setrlimit(RLIMIT_NOFILE, &raised) != 0)
            GTEST_SKIP() << "cannot open more than 1,024 descriptors here";
    }
    std::vector<int> fillers;
    for (int i = 0; i < 1100; ++i)
        fillers.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    {
        Connected c([](TcpTestPeer& peer, int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            peer.Send("250 high\r\n");
            peer.WaitClosed();
        });
        auto* stack = dynamic_cast<TIdIOHandlerStack*>(c.IO);
        EXPECT_GT(stack->Binding()->Handle(), 1024);
        c.Client->SetReadTimeout(5000);
        EXPECT_EQ(c.IO->ReadLine(), "250 high");
    }
    for (int fd : fillers)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &lim);
}

} // namespace
} // namespace ferry
