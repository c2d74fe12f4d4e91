// SMTPNotify against a real SMTP server: one digest per pass that moved or left files; only
// files left (once per file until it changes) and failed passes; and a notification that
// fails is told as a "mail not sent" outcome with the server's reason.
#include <cstdio>
#include <gtest/gtest.h>

#include "core/engine.h"
#include "mail/mail_notifier.h"
#include "settings/settings_store.h"
#include "support/registry_sandbox.h"
#include "support/smtp_sink.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

namespace ferry::test {
namespace {

class NotifyModes : public ::testing::Test {
protected:
    RegistrySandbox Sandbox;
    SmtpSink Sink;
    TempDir Files;
    std::string In = Files.MakeDir("in"), Out = Files.MakeDir("out");
    MailNotifier Mail;
    std::vector<FileOutcome> NotSent;

    void SetUp() override {
        InitialiseDefaults();
        TRegistryKey key;
        ASSERT_TRUE(OpenSettingsKey(key));
        key.WriteInteger("SMTPEnabled", 1);
        key.WriteString("SMTPServer", "127.0.0.1");
        key.WriteInteger("SMTPPort", Sink.Port());
        key.WriteString("SMTPFrom", "ferry@example.com");
        key.WriteString("SMTPTo", "clerk@example.com");
        Mail.OnNotSent = [this](const FileOutcome& o) { NotSent.push_back(o); };
    }
    void Mode(int mode) {
        TRegistryKey key;
        ASSERT_TRUE(OpenSettingsKey(key));
        key.WriteInteger("SMTPNotify", mode);
    }
    // One pass of the task, with the notifier as its only observer; returns the new messages.
    std::vector<std::string> Pass() {
        const size_t before = Sink.Messages().size();
        PassObservers observers{&Mail};
        RunPass({{"Inbox", In, Out, "INVOICE"}}, PassRules{}, observers, CancelFlag());
        std::vector<std::string> news;
        const auto all = Sink.Messages();
        for (size_t i = before; i < all.size(); ++i)
            news.push_back(all[i].data);
        return news;
    }
};

TEST_F(NotifyModes, ADigestPerPassListsEachFileAndWhatHappened) {
    Mode(1);
    Files.Write("in/a.txt", "INVOICE 1");
    Files.Write("in/b.txt", "INVOICE 2");
    Files.Write("out/b.txt", "taken");
    std::vector<std::string> mails = Pass();
    ASSERT_EQ(mails.size(), 1u) << "one message for the pass, not one per file";
    for (const char* line :
         {"\r\nInbox: a.txt: moved\r\n", "\r\nInbox: b.txt: left (name taken)\r\n",
          "\r\nFiles have been processed.\r\n\r\nInbox: "})
        EXPECT_NE(mails[0].find(line), std::string::npos) << line << " in " << mails[0];
    // A pass that found nothing to move sends nothing; b.txt left again is listed again.
    Files.Write("in/c.txt", "nothing");
    mails = Pass();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].find("a.txt"), std::string::npos);
    EXPECT_NE(mails[0].find("Inbox: b.txt: left (name taken)"), std::string::npos);
    std::remove((In + "/b.txt").c_str());
    EXPECT_TRUE(Pass().empty());
}

TEST_F(NotifyModes, OnlyFilesLeftAreToldOncePerVersion) {
    Mode(2);
    Files.Write("in/a.txt", "INVOICE 1");
    EXPECT_TRUE(Pass().empty()) << "a move alone is no news";
    Files.Write("in/b.txt", "INVOICE 2");
    Files.Write("out/b.txt", "taken");
    ASSERT_EQ(Pass().size(), 1u);
    EXPECT_TRUE(Pass().empty()) << "the same file left again is not told again";
    Files.Write("in/b.txt", "INVOICE 2, changed");
    const std::vector<std::string> mails = Pass();
    ASSERT_EQ(mails.size(), 1u) << "told again once it changed";
    EXPECT_NE(mails[0].find("Inbox: b.txt: left (name taken)"), std::string::npos);
}

TEST_F(NotifyModes, AFailedNotificationIsToldWithItsReasonAndEachMoveModeIsUnchanged) {
    // Mode 0 (absent): one message per move attempt, the stored text alone.
    Files.Write("in/a.txt", "INVOICE 1");
    Files.Write("in/b.txt", "INVOICE 2");
    std::vector<std::string> mails = Pass();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].substr(mails[0].find("\r\n\r\n")),
              "\r\n\r\nFiles have been processed.\r\n\r\n")
        << mails[0];
    EXPECT_TRUE(NotSent.empty());

    // A server that cannot be reached: nothing goes out, and the reason is told, per file.
    {
        TRegistryKey key;
        ASSERT_TRUE(OpenSettingsKey(key));
        key.WriteInteger("SMTPPort", 1); // nobody listens there
    }
    Files.Write("in/c.txt", "INVOICE 3");
    EXPECT_TRUE(Pass().empty());
    ASSERT_EQ(NotSent.size(), 1u);
    EXPECT_EQ(NotSent[0].Kind, OutcomeKind::MailNotSent);
    EXPECT_EQ(NotSent[0].File, "c.txt");
    EXPECT_FALSE(NotSent[0].Detail.empty());

    // The digest's failure is told once, for the pass.
    Mode(1);
    Files.Write("in/d.txt", "INVOICE 4");
    Pass();
    ASSERT_EQ(NotSent.size(), 2u);
    EXPECT_EQ(NotSent[1].File, "");
    EXPECT_EQ(NotSent[1].Detail, NotSent[0].Detail);
}

} // namespace
} // namespace ferry::test
