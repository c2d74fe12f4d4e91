#include "net/component.h"
#include "net/id_errors.h"
#include "net/socket_errors.h"
#include "net/socket_list.h"
#include "net/stack.h"
#include "net_test_helpers.h"
#include "support/tcp_server.h"

#include <cerrno>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace ferry {
namespace {

using test::LookupSeam;

// Holds a use of the socket stack for one test.
struct StackUse : TIdComponent {};

int CodeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.message(), SocketErrorText(e.Code));
        return e.Code;
    }
    return 0;
}

TEST(Stack, DottedQuadRecognition) {
    for (std::string yes : {"1.2.3.4", "1.2.3.4.", "0.0.0.0", "255.255.255.255", " 10 . 0 .0.1",
                            "0x7f.0.0.1", "$FF.0.0.1"})
        EXPECT_TRUE(IsDottedQuad(yes)) << yes;
    for (std::string no : {"1.2.3", "1.2.3.4.5", "10.0.0.1.5", "256.1.1.1", "300.1.1.1", "a.b.c.d",
                           "localhost", "", "-1.0.0.0", "1..2.3"})
        EXPECT_FALSE(IsDottedQuad(no)) << no;
}

TEST(Stack, ResolveAddressLooksUpOnlyNames) {
    StackUse use;
    LookupSeam seam(0, {{192, 0, 2, 7}, {192, 0, 2, 8}});
    EXPECT_EQ(SocketStack->ResolveAddress("LocalHost", Id_IPv4), "127.0.0.1");
    EXPECT_EQ(SocketStack->ResolveAddress("1.2.3.4.", Id_IPv4), "1.2.3.4.");
    EXPECT_EQ(seam.Calls, 0);
    EXPECT_EQ(SocketStack->ResolveAddress("mail.example", Id_IPv4), "192.0.2.7");
    EXPECT_EQ(seam.Calls, 1);
    EXPECT_EQ(SocketStack->ResolveAddress("::1", Id_IPv6), "0:0:0:0:0:0:0:1");
    EXPECT_EQ(SocketStack->ResolveAddress("fe80::a:BC", Id_IPv6), "FE80:0:0:0:0:0:A:BC");
    EXPECT_EQ(seam.Calls, 1);
}

TEST(Stack, LookupFailuresMapOntoWinsockCodes) {
    StackUse use;
    struct Row {
        int Result;
        int Err;
        int Code;
    } rows[] = {
        {EAI_NONAME, 0, 11001},   {EAI_AGAIN, 0, 11002},       {EAI_FAIL, 0, 11003},
        {EAI_NODATA, 0, 11004},   {EAI_ADDRFAMILY, 0, 11004},  {EAI_FAMILY, 0, 10047},
        {EAI_SOCKTYPE, 0, 10044}, {EAI_SERVICE, 0, 10109},     {EAI_MEMORY, 0, 8},
        {EAI_BADFLAGS, 0, 10022}, {EAI_SYSTEM, EMFILE, 10024},
    };
    for (const auto& row : rows) {
        auto previous = SetHostLookup([&](const std::string&, TIdIPVersion, auto&, int& err) {
            err = row.Err;
            return row.Result;
        });
        EXPECT_EQ(CodeOf([] { SocketStack->LookupHostByName("x.invalid", Id_IPv4); }), row.Code)
            << row.Result;
        SetHostLookup(previous);
    }
    // A lookup that succeeds without an address of the asked family finds no data.
    LookupSeam onlyV6(0, {TIdAddressBytes(16, 1)});
    EXPECT_EQ(CodeOf([] { SocketStack->LookupHostByName("x.invalid", Id_IPv4); }), 11004);
}

TEST(Stack, SocketErrorTextTable) {
    EXPECT_EQ(SocketErrorText(10004), "Socket Error # 10004\r\nInterrupted system call.");
    EXPECT_EQ(SocketErrorText(10047),
              "Socket Error # 10047\r\nAddress family not supported by protocol family.");
    EXPECT_EQ(SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
    EXPECT_EQ(SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
    for (int unknown : {0, 11002, 11003, 11004, 10067, 10109, 8})
        EXPECT_EQ(SocketErrorText(unknown), "Socket Error # " + std::to_string(unknown) + "\r\n");
    // Every code of the range has its own text, none empty.
    int known = 0;
    for (int code = 10000; code <= 11001; ++code)
        if (SocketErrorText(code).size() > std::string("Socket Error # 10000\r\n").size())
            ++known;
    EXPECT_EQ(known, 39);
    EXPECT_THROW(ReportSocketError(10038), EIdNotASocket);
    try {
        ReportSocketError(10054);
    } catch (const EIdNotASocket&) {
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.Code, 10054);
        EXPECT_EQ(e.message(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

TEST(Stack, PlatformErrorsThatCanBeProducedHereMapByMeaning) {
    StackUse use;
    TIdStack& s = *SocketStack;
    TIdBytes buf(16, 'x');

    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    EXPECT_THROW(s.Send(pipefd[1], buf), EIdNotASocket);
    EXPECT_EQ(CodeOf([&] { s.Send(pipefd[1], buf); }), 10038);
    close(pipefd[0]);
    close(pipefd[1]);
    EXPECT_EQ(CodeOf([&] { s.Receive(pipefd[0], buf); }), 10009);

    EXPECT_EQ(CodeOf([&] { s.NewSocketHandle(Id_SOCK_STREAM, IPPROTO_UDP, Id_IPv4); }), 10043);
    EXPECT_EQ(CodeOf([&] { s.NewSocketHandle(99, 0, Id_IPv4); }), 10022);

    int a = s.NewSocketHandle(Id_SOCK_STREAM, 0, Id_IPv4);
    int b = s.NewSocketHandle(Id_SOCK_STREAM, 0, Id_IPv4);
    s.Bind(a, "127.0.0.1", 0, Id_IPv4);
    std::string ip;
    int port = 0;
    s.GetSocketName(a, ip, port);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_GT(port, 0);
    EXPECT_EQ(CodeOf([&] { s.Bind(b, "127.0.0.1", port, Id_IPv4); }), 10048);
    EXPECT_EQ(CodeOf([&] { s.Bind(b, "192.0.2.1", 0, Id_IPv4); }), 10049);
    EXPECT_EQ(CodeOf([&] { s.GetPeerName(a, ip, port); }), 10057);
    EXPECT_EQ(CodeOf([&] { s.GetSocketOption(a, IPPROTO_TCP, 9999); }), 10042);
    s.Disconnect(a);
    s.Disconnect(b);

    uint16_t closedPort = test::UnusedLoopbackPort();
    int c = s.NewSocketHandle(Id_SOCK_STREAM, 0, Id_IPv4);
    EXPECT_EQ(CodeOf([&] { s.Connect(c, "127.0.0.1", closedPort, Id_IPv4); }), 10061);
    s.Disconnect(c);

    test::TcpTestServer server(
        [](test::TcpTestPeer& peer, int index) {
            if (index == 0) {
                // Reset only once the client has checked its connected state and spoken.
                peer.Read(1);
                peer.Reset();
            }
            else
                peer.WaitClosed();
        },
        2);
    int d = s.NewSocketHandle(Id_SOCK_STREAM, 0, Id_IPv4);
    s.Connect(d, "127.0.0.1", server.Port(), Id_IPv4);
    EXPECT_EQ(CodeOf([&] { s.Connect(d, "127.0.0.1", server.Port(), Id_IPv4); }), 10056);
    s.Send(d, TIdBytes(1, 'x'));
    ASSERT_TRUE(s.WaitReadable(d, 5000));
    EXPECT_EQ(CodeOf([&] { s.Receive(d, buf); }), 10054);
    s.Disconnect(d);

    int e = s.NewSocketHandle(Id_SOCK_STREAM, 0, Id_IPv4);
    s.Connect(e, "127.0.0.1", server.Port(), Id_IPv4);
    shutdown(e, SHUT_WR);
    EXPECT_EQ(CodeOf([&] { s.Send(e, buf); }), 10058);
    s.Disconnect(e);
    server.Wait();

    // Too many open files: lower the limit to what is open now.
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    int highest = dup(0);
    close(highest);
    rlimit low = saved;
    low.rlim_cur = highest;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    int code = CodeOf([&] { s.NewSocketHandle(Id_SOCK_STREAM, 0, Id_IPv4); });
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(code, 10024);

    EXPECT_EQ(WinsockCodeFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WinsockCodeFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(WinsockCodeFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(WinsockCodeFromErrno(ENETDOWN), 10050);
    // A value without a counterpart passes through and gets the empty text.
    EXPECT_EQ(WinsockCodeFromErrno(EDOM), EDOM);
}

TEST(Stack, AddressTextConversionErrors) {
    StackUse use;
    TIdStack& s = *SocketStack;
    int h = s.NewSocketHandle(Id_SOCK_STREAM, 0, Id_IPv4);
    EXPECT_THROW(s.Bind(h, "127.0.0.x", 0, Id_IPv4), EConvertError);
    EXPECT_THROW(s.Bind(h, "127.0.0.256", 0, Id_IPv4), ERangeError);
    EXPECT_THROW(s.Bind(h, "127.0.0.1", 65536, Id_IPv4), ERangeError);
    EXPECT_THROW(s.Bind(h, "127.0.0.1", -1, Id_IPv4), ERangeError);
    EXPECT_THROW(s.Connect(h, "127.0.0.1", 70000, Id_IPv4), ERangeError);
    EXPECT_THROW(s.Send(h, TIdBytes(4), 5), ERangeError);
    TIdBytes empty;
    EXPECT_THROW(s.Receive(h, empty), ERangeError);
    // The trailing dot form converts as the address it names.
    s.Bind(h, "127.0.0.1.", 0, Id_IPv4);
    std::string ip;
    int port;
    s.GetSocketName(h, ip, port);
    EXPECT_EQ(ip, "127.0.0.1");
    s.Disconnect(h);
    auto bytes = TextToIPv4(" 10. 0x10 .0.$FF");
    EXPECT_EQ((std::array<uint8_t, 4>{10, 16, 0, 255}), bytes);
}

TEST(Stack, UsageCountCreatesAndFreesTheOneStack) {
    ASSERT_EQ(TIdStack::UsageCount(), 0);
    EXPECT_EQ(SocketStack, nullptr);
    {
        StackUse first;
        TIdStack* stack = SocketStack;
        ASSERT_NE(stack, nullptr);
        char name[250] = {};
        gethostname(name, sizeof name - 1);
        EXPECT_EQ(stack->HostName(), name);
        {
            StackUse second;
            EXPECT_EQ(TIdStack::UsageCount(), 2);
            EXPECT_EQ(SocketStack, stack);
        }
        EXPECT_EQ(SocketStack, stack);
        try {
            TIdStack::CreateStack();
            FAIL();
        } catch (const EIdException& e) {
            EXPECT_EQ(e.message(), "Stack already created.");
        }
    }
    EXPECT_EQ(TIdStack::UsageCount(), 0);
    EXPECT_EQ(SocketStack, nullptr);

    SetStackClass({});
    try {
        StackUse none;
        FAIL();
    } catch (const EIdException& e) {
        EXPECT_EQ(e.message(), "Stack Class is undefined.");
    }
    EXPECT_EQ(TIdStack::UsageCount(), 0);
    SetStackClass([] { return std::unique_ptr<TIdStack>(new TIdStackLinux()); });
    StackUse again;
    EXPECT_NE(SocketStack, nullptr);
}

TEST(Stack, SocketSetKeepsItsLimitOf64) {
    TIdSocketListLinux set;
    for (int i = 0; i < 64; ++i)
        set.Add(2000 + i);
    set.Add(2000);
    EXPECT_EQ(set.Count(), 64);
    try {
        set.Add(3000);
        FAIL();
    } catch (const EIdStackSetSizeExceeded& e) {
        EXPECT_EQ(e.message(), "Set Size Exceeded.");
    }
    set.Remove(2000);
    EXPECT_NO_THROW(set.Add(3000));

    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    TIdSocketListLinux ready;
    ready.Add(fds[0]);
    ready.Add(fds[1]);
    EXPECT_FALSE(TIdSocketListLinux(ready).SelectRead(10));
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_TRUE(ready.SelectRead(1000));
    EXPECT_EQ(ready.Count(), 1);
    EXPECT_TRUE(ready.Contains(fds[0]));
    close(fds[0]);
    close(fds[1]);
}

} // namespace
} // namespace ferry
