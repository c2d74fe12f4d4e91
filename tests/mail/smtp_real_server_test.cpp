// The client against a real SMTP server (Debian's aiosmtpd) on 127.0.0.1, with and without
// PIPELINING on offer.
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

#include "mail/notification.h"
#include "platform/host.h"
#include "support/smtp_sink.h"

namespace ferry {
namespace {

using test::SmtpSink;

class SmtpRealServer : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        ReloadTimeZone();
        previous = SetClock([] { return std::time_t{1796116087}; }); // Tue 1 Dec 2026 09:08:07
    }
    void TearDown() override { SetClock(previous); }

    static TMailSettings Mail(int port) {
        TMailSettings mail;
        mail.SMTPServer = "127.0.0.1";
        mail.SMTPPort = port;
        mail.SMTPFrom = "s@h.test";
        mail.SMTPTo = "a@h.test; b@h.test";
        mail.SMTPMessage = "Files have been processed.";
        return mail;
    }

    static void SendOne(const TMailSettings& mail) {
        std::string failure;
        SendNotificationMail(mail, "", MailLimits(),
                             [&](const std::exception& e) { failure = e.what(); });
        EXPECT_EQ(failure, "");
    }

    static bool HasChunk(const std::vector<std::string>& chunks, const std::string& chunk) {
        return std::find(chunks.begin(), chunks.end(), chunk) != chunks.end();
    }

    const std::string Data = "From: \"s@h.test\" <s@h.test>\r\n"
                             "Subject: Notification Message!\r\n"
                             "To: a@h.test, b@h.test\r\n"
                             "Date: Tue, 1 Dec 2026 09:08:07 +0000\r\n"
                             "\r\n"
                             "Files have been processed.\r\n"
                             "\r\n";
    ClockFunction previous;
};

TEST_F(SmtpRealServer, PipelinedTransactionWhenOffered) {
    SmtpSink sink({.pipelining = true});
    SendOne(Mail(sink.Port()));
    auto messages = sink.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].mailFrom, "s@h.test");
    EXPECT_EQ(messages[0].rcptTo, (std::vector<std::string>{"a@h.test", "b@h.test"}));
    EXPECT_EQ(messages[0].data, Data);
    auto connections = sink.Connections();
    ASSERT_EQ(connections.size(), 1u);
    // The whole envelope reached the server in one piece.
    EXPECT_TRUE(HasChunk(connections[0], "RSET\r\nMAIL FROM: <s@h.test>\r\nRCPT TO:<a@h.test>\r\n"
                                         "RCPT TO:<b@h.test>\r\nDATA\r\n"));
    EXPECT_EQ(connections[0].back(), "QUIT\r\n");
}

TEST_F(SmtpRealServer, PlainTransactionOtherwise) {
    SmtpSink sink;
    SendOne(Mail(sink.Port()));
    auto messages = sink.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].data, Data);
    auto connections = sink.Connections();
    ASSERT_EQ(connections.size(), 1u);
    // One command per exchange.
    for (const char* command : {"RSET\r\n", "MAIL FROM: <s@h.test>\r\n", "RCPT TO:<a@h.test>\r\n",
                                "RCPT TO:<b@h.test>\r\n", "DATA\r\n", "QUIT\r\n"})
        EXPECT_TRUE(HasChunk(connections[0], command)) << command;
}

} // namespace
} // namespace ferry
