#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/case_sensitive_match.h"
#include "support/smtp_sink.h"
#include "support/temp_dir.h"
#include "ui/frm_options.h"
#include "ui/frm_task_list.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

// A port on 127.0.0.1 that nothing listens on: bound once, then let go.
int RefusingPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

class Options : public ProgramTest {
protected:
    // On the box and its caption's start, where the user clicks (a check box is wider than
    // the part that takes clicks).
    void Click(QAbstractButton* button) {
        const bool check = qobject_cast<QCheckBox*>(button) != nullptr;
        QTest::mouseClick(button, Qt::LeftButton, {},
                          check ? QPoint(8, button->height() / 2) : QPoint());
    }
    void Type(QLineEdit* field, const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
    }
    void OpenOptions() {
        Click(FRM_TaskList->BTN_Options);
        ASSERT_TRUE(FRM_Options->isVisible());
    }
    std::vector<QWidget*> MailControls() const {
        return {FRM_Options->TXT_SMTPServer,  FRM_Options->TXT_SMTPPort,
                FRM_Options->TXT_SMTPFROM,    FRM_Options->TXT_SMTPTO,
                FRM_Options->TXT_SMTPMessage, FRM_Options->BTN_Test};
    }
};

TEST_F(Options, ShowsTheStoredValuesNotAnEarlierUnsavedEdit) {
    StoreTasks({});
    StoreInteger("SMTPEnabled", 1);
    StoreInteger("SMTPPort", 2525);
    StoreString("SMTPServer", "mail.example.com");
    StoreInteger("MSCaseSensitive", 2); // anything but 1 is not case-sensitive
    StartProgram();
    OpenOptions();
    EXPECT_FALSE(FRM_TaskList->isVisible());
    EXPECT_FALSE(Timer->Enabled());
    EXPECT_EQ(FRM_Options->windowTitle(), QStringLiteral("Ferrydesk - Options"));
    EXPECT_TRUE(FRM_Options->CHK_SMTP->isChecked());
    EXPECT_TRUE(FRM_Options->BTN_Test->isEnabled());
    EXPECT_EQ(FRM_Options->TXT_SMTPPort->text(), QStringLiteral("2525"));
    EXPECT_EQ(FRM_Options->TXT_SMTPServer->text(), QStringLiteral("mail.example.com"));
    EXPECT_EQ(FRM_Options->TXT_SMTPMessage->text(), QStringLiteral("Files have been processed."));
    EXPECT_FALSE(FRM_Options->CHK_CaseSen->isChecked());

    Type(FRM_Options->TXT_SMTPServer, QStringLiteral("typed.example.net"));
    Click(FRM_Options->CHK_CaseSen);
    Click(FRM_Options->BTN_Cancel);
    EXPECT_FALSE(FRM_Options->isVisible());
    EXPECT_TRUE(FRM_TaskList->isVisible());
    EXPECT_TRUE(Timer->Enabled());
    EXPECT_EQ(StoredString("SMTPServer"), "mail.example.com");

    OpenOptions();
    EXPECT_EQ(FRM_Options->TXT_SMTPServer->text(), QStringLiteral("mail.example.com"));
    EXPECT_FALSE(FRM_Options->CHK_CaseSen->isChecked());

    // SMTPEnabled 2, set by hand, is off.
    Click(FRM_Options->BTN_Cancel);
    StoreInteger("SMTPEnabled", 2);
    OpenOptions();
    EXPECT_FALSE(FRM_Options->CHK_SMTP->isChecked());
    for (QWidget* w : MailControls())
        EXPECT_FALSE(w->isEnabled()) << qPrintable(w->objectName());
}

TEST_F(Options, TheNotificationBoxGreysAndRestoresTheMailFields) {
    StartProgram();
    OpenOptions();
    EXPECT_FALSE(FRM_Options->CHK_SMTP->isChecked());
    for (QWidget* w : MailControls())
        EXPECT_FALSE(w->isEnabled()) << qPrintable(w->objectName());
    Click(FRM_Options->CHK_SMTP);
    for (QWidget* w : MailControls())
        EXPECT_TRUE(w->isEnabled()) << qPrintable(w->objectName());
    Click(FRM_Options->CHK_SMTP);
    for (QWidget* w : MailControls())
        EXPECT_FALSE(w->isEnabled()) << qPrintable(w->objectName());
    EXPECT_TRUE(FRM_Options->CHK_CaseSen->isEnabled());
    EXPECT_TRUE(FRM_Options->BTN_Apply->isEnabled());
    EXPECT_TRUE(FRM_Options->BTN_Cancel->isEnabled());
}

TEST_F(Options, ApplyWithABadPortWritesNothing) {
    StartProgram();
    OpenOptions();
    Click(FRM_Options->CHK_SMTP);
    Type(FRM_Options->TXT_SMTPPort, QStringLiteral("25x"));
    Type(FRM_Options->TXT_SMTPServer, QStringLiteral("other.example.org"));
    Click(FRM_Options->CHK_CaseSen);
    Click(FRM_Options->BTN_Apply);
    ASSERT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_EQ(Prompts.Errors[0], "'25x' is not a valid integer value.");
    EXPECT_EQ(StoredInteger("SMTPEnabled"), 0) << "written first, but not kept alone";
    EXPECT_EQ(StoredInteger("SMTPPort"), 25);
    EXPECT_EQ(StoredString("SMTPServer"), "SMTP Server");
    EXPECT_EQ(StoredInteger("MSCaseSensitive"), 0);
    EXPECT_FALSE(CaseSensitiveMatch);
    EXPECT_TRUE(FRM_Options->isVisible()) << "the dialog stays open";
    EXPECT_FALSE(FRM_TaskList->isVisible());
}

TEST_F(Options, ApplyStoresEveryFieldAsItReadsAndSetsTheCaseRule) {
    StartProgram();
    OpenOptions();
    Click(FRM_Options->CHK_SMTP);
    Type(FRM_Options->TXT_SMTPPort, QStringLiteral("$19"));
    Type(FRM_Options->TXT_SMTPServer, QStringLiteral("127.0.0.1"));
    Type(FRM_Options->TXT_SMTPFROM, QStringLiteral("ferry@example.com"));
    Type(FRM_Options->TXT_SMTPTO, QStringLiteral("a@example.com, b@example.com"));
    Type(FRM_Options->TXT_SMTPMessage, QStringLiteral("Moved."));
    Click(FRM_Options->CHK_SMTP); // greyed fields are stored all the same
    Click(FRM_Options->CHK_CaseSen);
    Click(FRM_Options->BTN_Apply);
    EXPECT_TRUE(Prompts.Errors.empty());
    EXPECT_FALSE(FRM_Options->isVisible());
    EXPECT_TRUE(FRM_TaskList->isVisible());
    EXPECT_EQ(StoredInteger("SMTPEnabled"), 0);
    EXPECT_EQ(StoredInteger("SMTPPort"), 25);
    EXPECT_EQ(StoredString("SMTPServer"), "127.0.0.1");
    EXPECT_EQ(StoredString("SMTPFrom"), "ferry@example.com");
    EXPECT_EQ(StoredString("SMTPTo"), "a@example.com, b@example.com");
    EXPECT_EQ(StoredString("SMTPMessage"), "Moved.");
    EXPECT_EQ(StoredInteger("MSCaseSensitive"), 1);
    EXPECT_TRUE(CaseSensitiveMatch);
    CaseSensitiveMatch = false;
}

TEST_F(Options, ALongStoredMessageIsWrittenBackWhole) {
    const std::string message(40000, 'x');
    StoreTasks({});
    StoreString("SMTPMessage", message);
    StartProgram();
    OpenOptions();
    EXPECT_EQ(FRM_Options->TXT_SMTPMessage->text().size(), 40000);
    Click(FRM_Options->BTN_Apply);
    EXPECT_TRUE(Prompts.Errors.empty());
    EXPECT_EQ(StoredString("SMTPMessage"), message);
}

TEST_F(Options, ApplyWithCaseSensitivityMakesTheNextPassMatchCaseExactly) {
    TempDir files;
    const std::string in = files.MakeDir("in");
    const std::string out = files.MakeDir("out");
    files.Write("in/upper.txt", "xxABCxx");
    files.Write("in/lower.txt", "xxabcxx");
    StoreTasks({{"abc", in, out, "ABC"}});
    StartProgram();
    OpenOptions();
    Click(FRM_Options->CHK_CaseSen);
    Click(FRM_Options->BTN_Apply);
    QTest::mouseClick(FRM_TaskList->BTN_RunNow, Qt::LeftButton);
    ASSERT_TRUE(SettlePass());
    EXPECT_TRUE(Prompts.Errors.empty());
    EXPECT_EQ(files.Entries("out"), std::vector<std::string>{"upper.txt"});
    EXPECT_EQ(files.Entries("in"), std::vector<std::string>{"lower.txt"});

    OpenOptions();
    EXPECT_TRUE(FRM_Options->CHK_CaseSen->isChecked());
    Click(FRM_Options->CHK_CaseSen);
    Click(FRM_Options->BTN_Apply);
    QTest::mouseClick(FRM_TaskList->BTN_RunNow, Qt::LeftButton);
    ASSERT_TRUE(SettlePass());
    EXPECT_EQ(files.Entries("out"), (std::vector<std::string>{"lower.txt", "upper.txt"}));
}

TEST_F(Options, TestWithABadPortFailsBeforeConnectingAndRestoresTheCursor) {
    StartProgram();
    OpenOptions();
    Click(FRM_Options->CHK_SMTP);
    FRM_Options->TXT_SMTPPort->clear();
    Click(FRM_Options->BTN_Test);
    ASSERT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_EQ(Prompts.Errors[0], "'' is not a valid integer value.");
    EXPECT_TRUE(Prompts.Messages.empty()) << "no connection was tried";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Options, TestAgainstARefusingServerShowsTheWarning) {
    StartProgram();
    OpenOptions();
    Click(FRM_Options->CHK_SMTP);
    Type(FRM_Options->TXT_SMTPServer, QStringLiteral("127.0.0.1"));
    Type(FRM_Options->TXT_SMTPPort, QString::number(RefusingPort()));
    Type(FRM_Options->TXT_SMTPTO, QStringLiteral("someone@example.com"));
    Click(FRM_Options->BTN_Test);
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages[0].Message, "An Error occured trying to connect to the SMTP server");
    EXPECT_EQ(Prompts.Messages[0].Type, TMsgDlgType::mtWarning);
    EXPECT_EQ(Prompts.Messages[0].Buttons, Btn(mbOK));
    EXPECT_TRUE(Prompts.Errors.empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(FRM_Options->isVisible());
    EXPECT_FALSE(Timer->Enabled()) << "the scheduler stays paused during the test";
}

TEST_F(Options, TestSendsTheFieldsAsTheyStandAndStoresNothing) {
    SmtpSink sink;
    StartProgram();
    OpenOptions();
    Click(FRM_Options->CHK_SMTP);
    Type(FRM_Options->TXT_SMTPServer, QStringLiteral("127.0.0.1"));
    // Only the low 16 bits of the typed number are the port.
    Type(FRM_Options->TXT_SMTPPort, QString::number(sink.Port() + 65536));
    Type(FRM_Options->TXT_SMTPFROM, QStringLiteral("ferry@example.com"));
    Type(FRM_Options->TXT_SMTPTO, QStringLiteral("one@example.com; two@example.com"));
    Type(FRM_Options->TXT_SMTPMessage, QStringLiteral("Test from the options"));
    Click(FRM_Options->BTN_Test);
    EXPECT_TRUE(Prompts.Messages.empty());
    EXPECT_TRUE(Prompts.Errors.empty());
    const auto mails = sink.WaitForMessages(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].mailFrom, "ferry@example.com");
    EXPECT_EQ(mails[0].rcptTo, (std::vector<std::string>{"one@example.com", "two@example.com"}));
    EXPECT_NE(mails[0].data.find("Subject: Notification Message!\r\n"), std::string::npos);
    EXPECT_NE(mails[0].data.find("\r\n\r\nTest from the options\r\n"), std::string::npos);
    EXPECT_EQ(StoredString("SMTPServer"), "SMTP Server");
    EXPECT_EQ(StoredInteger("SMTPEnabled"), 0);
    EXPECT_TRUE(FRM_Options->isVisible());

    // A recipient text that cannot be read is no connection failure: the error box says so.
    Type(FRM_Options->TXT_SMTPTO, QStringLiteral("<ops@desk.test>@x"));
    Click(FRM_Options->BTN_Test);
    EXPECT_TRUE(Prompts.Messages.empty());
    ASSERT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_EQ(Prompts.Errors[0], "@ Outside address.");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Options, LayoutAndTabOrder) {
    StartProgram();
    OpenOptions();
    EXPECT_EQ(FRM_Options->size(), QSize(314, 245));
    EXPECT_EQ(FRM_Options->TXT_SMTPPort->geometry(), QRect(253, 92, 53, 21));
    EXPECT_EQ(FRM_Options->BTN_Test->geometry(), QRect(160, 212, 48, 25));
    EXPECT_EQ(QApplication::focusWidget() ? QApplication::focusWidget()
                                          : FRM_Options->focusWidget(),
              FRM_Options->BTN_Apply);
    // Every label ends before the field to its right begins.
    EXPECT_LE(FRM_Options->Label3->geometry().right(), FRM_Options->TXT_SMTPServer->x());
    EXPECT_LE(FRM_Options->Label4->geometry().right(), FRM_Options->TXT_SMTPPort->x());
}

} // namespace
} // namespace ferry::test
