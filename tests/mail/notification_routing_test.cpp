// A routing pass with the notification sender attached, as the program attaches it, against a
// real SMTP server on 127.0.0.1 and a sandboxed registry.
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/engine.h"
#include "mail/address.h"
#include "mail/mail_notifier.h"
#include "mail/notification.h"
#include "platform/host.h"
#include "settings/settings_store.h"
#include "support/registry_sandbox.h"
#include "support/smtp_script_server.h"
#include "support/smtp_sink.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

namespace ferry {
namespace {

using test::SmtpScriptServer;
using test::SmtpSink;
using test::TempDir;

class NotificationRouting : public RegistrySandboxTest {
protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        ReloadTimeZone();
        previous = SetClock([] { return std::time_t{1796116087}; }); // Tue 1 Dec 2026 09:08:07
        InitialiseDefaults();
        source = folders.MakeDir("in");
        destination = folders.MakeDir("out");
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            folders.Write(std::string("in/") + name, "report: ROUTE-ME, third quarter");
    }
    void TearDown() override { SetClock(previous); }

    static void Configure(bool enabled, int port) {
        TOptionsSettings options;
        options.Mail.SMTPEnabled = enabled;
        options.Mail.SMTPServer = "127.0.0.1";
        options.Mail.SMTPFrom = "ferry@desk.test";
        options.Mail.SMTPTo = "ops@desk.test; audit@desk.test";
        options.Mail.SMTPMessage = "Files have been processed.";
        ASSERT_TRUE(WriteOptionsSettings(options, std::to_string(port), false));
    }

    // One pass of the task with `run` told too, after the mail.
    void Pass(test::TaskRun& run) {
        MailNotifier mail;
        run.Pass({{"T", source, destination, "ROUTE-ME"}}, true, &mail);
    }
    void Pass() {
        test::TaskRun run;
        Pass(run);
    }

    std::vector<std::string> Moved() const { return folders.Entries("out"); }

    ClockFunction previous;
    TempDir folders;
    std::string source, destination;
};

const std::vector<std::string> AllThree = {"a.txt", "b.txt", "c.txt"};

TEST_F(NotificationRouting, ThreeMovesGiveThreeMessagesPipelinedOrPlainAsTheServerOffers) {
    const std::string data = "From: \"ferry@desk.test\" <ferry@desk.test>\r\n"
                             "Subject: Notification Message!\r\n"
                             "To: ops@desk.test, audit@desk.test\r\n"
                             "Date: Tue, 1 Dec 2026 09:08:07 +0000\r\n"
                             "\r\n"
                             "Files have been processed.\r\n"
                             "\r\n";
    const std::string batch = "RSET\r\nMAIL FROM: <ferry@desk.test>\r\nRCPT TO:<ops@desk.test>\r\n"
                              "RCPT TO:<audit@desk.test>\r\nDATA\r\n";
    for (bool pipelining : {true, false}) {
        SCOPED_TRACE(pipelining ? "server offers PIPELINING" : "server does not");
        if (!pipelining) { // put the files back for the second round
            for (const auto& name : AllThree)
                ASSERT_EQ(
                    std::rename((destination + "/" + name).c_str(), (source + "/" + name).c_str()),
                    0);
        }
        SmtpSink sink({.pipelining = pipelining});
        Configure(true, sink.Port());
        Pass();
        EXPECT_EQ(Moved(), AllThree);
        EXPECT_EQ(folders.Entries("in"), std::vector<std::string>{});

        auto messages = sink.WaitForMessages(3);
        ASSERT_EQ(messages.size(), 3u);
        for (const auto& m : messages) {
            EXPECT_EQ(m.mailFrom, "ferry@desk.test");
            EXPECT_EQ(m.rcptTo, (std::vector<std::string>{"ops@desk.test", "audit@desk.test"}));
            EXPECT_EQ(m.data, data);
        }
        // One session per moved file, each ending with QUIT; the envelope in one piece only
        // when the server offered pipelining.
        auto connections = sink.Connections();
        ASSERT_EQ(connections.size(), 3u);
        for (const auto& chunks : connections) {
            ASSERT_FALSE(chunks.empty());
            EXPECT_EQ(chunks.back(), "QUIT\r\n");
            bool batched = std::find(chunks.begin(), chunks.end(), batch) != chunks.end();
            bool single = std::find(chunks.begin(), chunks.end(), "RSET\r\n") != chunks.end();
            EXPECT_EQ(batched, pipelining);
            EXPECT_EQ(single, !pipelining);
        }
    }
}

// Each notification reads the settings as they are at that moment: another program's change
// between two moves is in the very next message.
TEST_F(NotificationRouting, SettingsChangedByAnotherProgramBetweenMovesAreUsedAtOnce) {
    SmtpSink sink;
    Configure(true, sink.Port());
    const std::string key = "HKLM\\" + std::string(SettingsKey);
    test::TaskRun run;
    const int& moves = run.Moves;
    run.OnMove = [&] {
        if (moves == 1) {
            EXPECT_EQ(Sandbox.RegTool({"add", key, "/v", "SMTPMessage", "/t", "REG_SZ", "/d",
                                       "Second text.", "/f"}),
                      0);
        }
        if (moves == 2) {
            EXPECT_EQ(Sandbox.RegTool(
                          {"add", key, "/v", "SMTPEnabled", "/t", "REG_DWORD", "/d", "0", "/f"}),
                      0);
        }
    };
    Pass(run);
    EXPECT_EQ(Moved(), AllThree);
    auto messages = sink.WaitForMessages(3, std::chrono::milliseconds(500));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].data.find("\r\n\r\nFiles have been processed.\r\n"), std::string::npos);
    EXPECT_NE(messages[1].data.find("\r\n\r\nSecond text.\r\n"), std::string::npos);
}

TEST_F(NotificationRouting, DisabledNotificationsOpenNoConnection) {
    SmtpScriptServer s;
    s.StepLimit(std::chrono::milliseconds(200));
    Configure(false, s.Port());
    s.Start();
    Pass();
    EXPECT_EQ(Moved(), AllThree);
    s.Finish();
    EXPECT_FALSE(s.Accepted());
}

TEST_F(NotificationRouting, ARefusedConnectionLeavesThePassGoingOn) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd); // nothing listens there now
    Configure(true, ntohs(addr.sin_port));
    EXPECT_NO_THROW(Pass());
    EXPECT_EQ(Moved(), AllThree);
}

TEST_F(NotificationRouting, SettingsAndRecipientErrorsEndThePass) {
    Configure(true, 2525);
    TRegistryKey key;
    ASSERT_TRUE(OpenSettingsKey(key));
    key.WriteString("SMTPTo", "<ops@desk.test>@x"); // "@ Outside address"
    key.CloseKey();
    EXPECT_THROW(Pass(), EIdEmailParseError);
    // The first file was moved before its notification failed; the others wait.
    EXPECT_EQ(Moved().size(), 1u);
    EXPECT_EQ(folders.Entries("in").size(), 2u);
    // The recipients are taken as soon as they are read, before the message text: with the
    // message text unreadable too, the address error is still the one that comes out.
    ASSERT_TRUE(OpenSettingsKey(key));
    key.WriteInteger("SMTPMessage", 7);
    key.CloseKey();
    EXPECT_THROW(SendNotification(), EIdEmailParseError);
    ASSERT_TRUE(OpenSettingsKey(key));
    key.WriteString("SMTPMessage", "Files have been processed.");
    key.CloseKey();

    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyEx(SettingsRoot(), SettingsKey, 0, KEY_ALL_ACCESS, &handle), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValue(handle, "SMTPPort"), ERROR_SUCCESS);
    RegCloseKey(handle);
    try {
        Pass();
        FAIL() << "the missing port went unnoticed";
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to get data for 'SMTPPort'");
    }
    EXPECT_EQ(Moved().size(), 2u);
}

} // namespace
} // namespace ferry
