// The notification sending core: which errors it drops and which it lets through.
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mail/address.h"
#include "mail/notification.h"
#include "mail/reply_errors.h"
#include "platform/host.h"
#include "support/smtp_script_server.h"

namespace ferry {
namespace {

using test::SmtpScriptServer;

// A port on 127.0.0.1 that nothing listens on.
int ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class NotificationCore : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        ReloadTimeZone();
        // Tuesday 1 December 2026, 09:08:07 UTC.
        previous = SetClock([] { return std::time_t{1796116087}; });
        mail.SMTPServer = "127.0.0.1";
        mail.SMTPFrom = "s@h";
        mail.SMTPTo = "a@h";
        mail.SMTPMessage = "line one\r\nline two";
    }
    void TearDown() override { SetClock(previous); }

    // Sends and collects what reached the failure handler.
    std::vector<std::string> Send() {
        std::vector<std::string> failures;
        SendNotificationMail(mail, "", limits,
                             [&](const std::exception& e) { failures.push_back(e.what()); });
        return failures;
    }

    ClockFunction previous;
    TMailSettings mail;
    MailLimits limits;
};

std::string HeloLine() {
    return "EHLO " + LocalHostName() + "\r\n";
}

TEST_F(NotificationCore, SendsOneMessageWithTheBodyLinesAndQuits) {
    SmtpScriptServer s;
    s.Reply("220 srv.test").Expect(HeloLine()).Reply("250 srv.test");
    s.ExpectLine("RSET").Reply("250 ok");
    s.ExpectLine("MAIL FROM: <s@h>").Reply("250 ok");
    s.ExpectLine("RCPT TO:<a@h>").Reply("250 ok");
    s.ExpectLine("DATA").Reply("354 go ahead");
    s.Expect("From: \"s@h\" <s@h>\r\n"
             "Subject: Notification Message!\r\n"
             "To: a@h\r\n"
             "Date: Tue, 1 Dec 2026 09:08:07 +0000\r\n"
             "\r\n"
             "line one\r\n"
             "line two\r\n"
             "\r\n"
             ".\r\n")
        .Reply("250 queued");
    s.ExpectLine("QUIT").Reply("221 bye");
    mail.SMTPPort = s.Port();
    s.Start();
    EXPECT_EQ(Send(), std::vector<std::string>{});
    EXPECT_EQ(s.Finish(), "");
}

TEST_F(NotificationCore, DropsSendErrorsButStillQuits) {
    {
        SmtpScriptServer s;
        s.Reply("220 srv.test").Expect(HeloLine()).Reply("250 srv.test");
        s.ExpectLine("RSET").Reply("250 ok");
        s.ExpectLine("MAIL FROM: <s@h>").Reply("550 5.7.1 not you");
        s.ExpectLine("QUIT").Reply("221 bye");
        mail.SMTPPort = s.Port();
        s.Start();
        EXPECT_EQ(Send(), std::vector<std::string>{"not you\r\n"});
        EXPECT_EQ(s.Finish(), "");
    }
    {
        mail.SMTPPort = ClosedPort();
        auto failures = Send();
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_NE(failures[0].find("Connection refused."), std::string::npos) << failures[0];
    }
}

TEST_F(NotificationCore, LetsThroughARefusedQuitAndAnUnreadableRecipientText) {
    {
        SmtpScriptServer s;
        s.Reply("220 srv.test").Expect(HeloLine()).Reply("250 srv.test");
        s.ExpectLine("RSET").Reply("250 ok");
        s.ExpectLine("MAIL FROM: <s@h>").Reply("250 ok");
        s.ExpectLine("RCPT TO:<a@h>").Reply("250 ok");
        s.ExpectLine("DATA").Reply("354 go ahead");
        s.Expect("From: \"s@h\" <s@h>\r\nSubject: Notification Message!\r\nTo: a@h\r\n"
                 "Date: Tue, 1 Dec 2026 09:08:07 +0000\r\n\r\n\r\n.\r\n") // empty body
            .Reply("250 queued");
        s.ExpectLine("QUIT").Reply("554 not now");
        mail.SMTPPort = s.Port();
        mail.SMTPMessage = "";
        s.Start();
        try {
            Send();
            FAIL() << "the refused QUIT was dropped";
        } catch (const EIdSMTPReplyError& e) {
            EXPECT_EQ(e.ReplyCode, 554);
        }
        EXPECT_EQ(s.Finish(), "");
    }
    {
        SmtpScriptServer s;
        s.StepLimit(std::chrono::milliseconds(200));
        mail.SMTPPort = s.Port();
        mail.SMTPTo = "<a@h>@x"; // an at sign after the closing bracket
        s.Start();
        EXPECT_THROW(Send(), EIdEmailParseError);
        s.Finish();
        EXPECT_FALSE(s.Accepted()); // refused before any connection
    }
}

TEST_F(NotificationCore, ASilentServerIsGivenUpOnWithinTheReplyLimit) {
    EXPECT_EQ(MailLimits().ConnectMs, 30000);
    EXPECT_EQ(MailLimits().ReadMs, 60000);
    limits.ReadMs = 300; // the wiring, without waiting a minute
    SmtpScriptServer s;
    s.Reply("220 srv.test").Expect(HeloLine()).ExpectClose(); // no QUIT into the silence
    mail.SMTPPort = s.Port();
    s.Start();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Send(), std::vector<std::string>{"Read Timeout"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(s.Finish(), "");
}

} // namespace
} // namespace ferry
