// A connect with a time limit: the limit still holds, but a connect that succeeds at once
// returns at once instead of waiting out a watch step.
#include <chrono>
#include <gtest/gtest.h>
#include <memory>

#include "net/id_errors.h"
#include "net/io_handler_stack.h"
#include "net/tcp_client.h"
#include "support/smtp_script_server.h"
#include "support/tcp_server.h"

namespace ferry {
namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

Clock::duration ConnectOnce(std::unique_ptr<TIdIOHandler> handler, int limitMs) {
    test::SmtpScriptServer server;
    server.Start();
    TIdTCPClientCustom client;
    client.SetIOHandler(std::move(handler));
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.SetConnectTimeout(limitMs);
    auto start = Clock::now();
    client.Connect();
    auto took = Clock::now() - start;
    client.Disconnect(false);
    EXPECT_EQ(server.Finish(), "");
    return took;
}

TEST(ConnectWithLimit, ASucceedingConnectReturnsAtOnce) {
    Clock::duration limited{}, direct{};
    for (int i = 0; i < 8; ++i) {
        limited += ConnectOnce(std::make_unique<TIdIOHandlerStack>(), 30000);
        direct += ConnectOnce(std::make_unique<TIdIOHandlerStack>(), 0);
    }
    // Measured against a connect without a limit in the same run: the thread and the wait
    // cost little, never a fixed step. 8 x 125 ms would be a full second.
    EXPECT_LT(limited, direct + Millis(400));
}

TEST(ConnectWithLimit, TheLimitStillEndsAnUnansweredConnect) {
    test::FullBacklogListener listener;
    if (!listener.Ready())
        GTEST_SKIP() << "cannot fill a loopback accept queue here";
    TIdTCPClientCustom client;
    client.SetIOHandler(std::make_unique<TIdIOHandlerStack>());
    client.SetHost("127.0.0.1");
    client.SetPort(listener.Port());
    client.SetConnectTimeout(500);
    auto start = Clock::now();
    try {
        client.Connect();
        FAIL() << "the connect was answered";
    } catch (const EIdConnectTimeout& e) {
        EXPECT_STREQ(e.what(), "Connect timed out.");
    }
    auto took = Clock::now() - start;
    EXPECT_GE(took, Millis(450));
    EXPECT_LT(took, Millis(3000));
    EXPECT_FALSE(client.IsConnected());
}

TEST(ConnectWithLimit, ARefusedConnectKeepsItsSocketError) {
    TIdTCPClientCustom client;
    client.SetIOHandler(std::make_unique<TIdIOHandlerStack>());
    client.SetHost("127.0.0.1");
    client.SetPort(test::UnusedLoopbackPort());
    client.SetConnectTimeout(30000);
    try {
        client.Connect();
        FAIL() << "the connect succeeded";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.Code, 10061);
    }
}

} // namespace
} // namespace ferry
