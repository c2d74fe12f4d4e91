// The notification's connection object: the connect limit still holds, but a connect that
// succeeds at once does not wait out the stock handler's 125 ms watch step.
#include <chrono>
#include <gtest/gtest.h>
#include <memory>

#include "mail/smtp_io_handler.h"
#include "net/id_errors.h"
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

TEST(SmtpPromptConnect, ASucceedingConnectReturnsAtOnce) {
    Clock::duration stock{}, prompt{};
    for (int i = 0; i < 4; ++i) {
        stock += ConnectOnce(std::make_unique<TIdIOHandlerStack>(), 30000);
        prompt += ConnectOnce(std::make_unique<TIdIOHandlerPromptConnect>(), 30000);
    }
    // The stock handler sleeps at least 125 ms per connect; measured in the same run.
    EXPECT_GE(stock, Millis(500));
    EXPECT_LT(prompt * 4, stock);
}

TEST(SmtpPromptConnect, TheLimitStillEndsAnUnansweredConnect) {
    test::FullBacklogListener listener;
    if (!listener.Ready())
        GTEST_SKIP() << "cannot fill a loopback accept queue here";
    TIdTCPClientCustom client;
    client.SetIOHandler(std::make_unique<TIdIOHandlerPromptConnect>());
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

TEST(SmtpPromptConnect, ARefusedConnectKeepsItsSocketError) {
    TIdTCPClientCustom client;
    client.SetIOHandler(std::make_unique<TIdIOHandlerPromptConnect>());
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
