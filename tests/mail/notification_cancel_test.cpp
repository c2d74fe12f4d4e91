// A notification waiting on a mail server that never answers gives up as soon as its thread's
// work is called off, whether it waits to connect or for a reply.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "base/cancellation.h"
#include "core/pass_worker.h"
#include "mail/notification.h"
#include "support/tcp_server.h"

namespace ferry {
namespace {

using namespace std::chrono_literals;
using test::FullBacklogListener;
using test::TcpTestPeer;
using test::TcpTestServer;

struct CalledOff {
    std::string failure; // what the send reported
    std::chrono::milliseconds took{0};
};

// Sends to `port` on the worker, calls the work off once `waiting()` holds, and tells how the
// send ended and how long after the call it did.
CalledOff SendThenCallOff(uint16_t port, const std::function<bool()>& waiting) {
    TMailSettings mail;
    MailLimits limits;
    mail.SMTPServer = "127.0.0.1";
    mail.SMTPPort = port;
    mail.SMTPFrom = "ferry@example.com";
    mail.SMTPTo = "clerk@example.com";
    mail.SMTPMessage = "Files have been processed.";
    CalledOff result;
    std::promise<void> ended;
    PassWorker worker;
    EXPECT_TRUE(worker.Start(
        [&](const CancelFlag& cancel) {
            // As a pass does: the thread's waits look at the flag the worker calls off.
            ScopedCancelFlag scope(cancel);
            SendNotificationMail(mail, "", limits,
                                 [&](const std::exception& e) { result.failure = e.what(); });
        },
        [&] { ended.set_value(); }));
    for (int i = 0; i < 1000 && !waiting(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(waiting());
    std::this_thread::sleep_for(200ms); // well into the wait
    const auto asked = std::chrono::steady_clock::now();
    worker.Cancel();
    EXPECT_EQ(ended.get_future().wait_for(10s), std::future_status::ready);
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - asked);
    return result;
}

TEST(NotificationCancel, AReplyWaitAndAConnectWaitEndWhenTheWorkIsCalledOff) {
    std::atomic<bool> done{false};
    TcpTestServer silent(
        [&](TcpTestPeer& peer, int) {
            while (!done && !peer.WaitClosed(50)) {
            }
        },
        1, 10000);
    const CalledOff reply = SendThenCallOff(silent.Port(), [&] { return silent.Accepted() == 1; });
    done = true;
    EXPECT_EQ(reply.failure, EOperationCancelled().message());
    EXPECT_LT(reply.took, 1s) << "the 60-second reply wait was not cut short";

    FullBacklogListener full;
    if (!full.Ready())
        GTEST_SKIP() << "the accept queue could not be filled here";
    const CalledOff connect = SendThenCallOff(full.Port(), [] { return true; });
    EXPECT_EQ(connect.failure, EOperationCancelled().message());
    EXPECT_LT(connect.took, 1s) << "the 30-second connect wait was not cut short";

    // Without a flag nothing changes: waits are not cut into slices on other threads.
    EXPECT_FALSE(ThreadCancellable());
    EXPECT_FALSE(ThreadCancelled());
}

} // namespace
} // namespace ferry
