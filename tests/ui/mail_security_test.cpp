#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "latency.h"
#include "mail/password_source.h"
#include "modal_driver.h"
#include "settings/mail_settings.h"
#include "support/smtp_sink.h"
#include "support/tcp_server.h"
#include "support/test_certificates.h"
#include "ui/frm_mail_security.h"
#include "ui/frm_options.h"
#include "ui/frm_task_list.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

// Passwords kept in memory: a password store of the test's own, standing in for the desktop's.
// The windows ask it from threads of their own, as they ask the real one.
class MemoryPasswords : public TMailPasswordSource {
public:
    std::map<std::pair<std::string, std::string>, std::string> Items;
    std::optional<std::string> Read(const std::string& server, const std::string& user) override {
        std::lock_guard<std::mutex> lock(Lock);
        auto it = Items.find({server, user});
        return it == Items.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    void Store(const std::string& server, const std::string& user,
               const std::string& password) override {
        std::lock_guard<std::mutex> lock(Lock);
        Items[{server, user}] = password;
    }
    bool Remove(const std::string& server, const std::string& user) override {
        std::lock_guard<std::mutex> lock(Lock);
        return Items.erase({server, user}) > 0;
    }
    std::mutex Lock;
};

class MailSecurity : public ProgramTest {
protected:
    void SetUp() override {
        Passwords = std::make_shared<MemoryPasswords>();
        SetMailPasswordSource(Passwords);
    }
    void TearDown() override {
        SetMailPasswordSource(nullptr);
        ProgramTest::TearDown();
    }
    void OpenOptions() {
        QTest::mouseClick(FRM_TaskList->BTN_Options, Qt::LeftButton);
        ASSERT_TRUE(FRM_Options->isVisible());
    }
    // Opens the Security dialog and lets `fill` act on it before the modal loop runs.
    void InSecurityDialog(std::function<void(TFRM_MailSecurity*)> fill) {
        bool seen = false;
        WhenModalOpens([&](QWidget* modal) {
            auto* dialog = qobject_cast<TFRM_MailSecurity*>(modal);
            ASSERT_NE(dialog, nullptr);
            seen = true;
            fill(dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        QTest::mouseClick(FRM_Options->BTN_Security, Qt::LeftButton);
        EXPECT_TRUE(seen);
    }
    static std::vector<std::string> AllStoredText() {
        std::vector<std::string> all;
        TRegistryKey key;
        EXPECT_TRUE(OpenSettingsKey(key));
        std::string name, data;
        DWORD type;
        for (DWORD i = 0; RegEnumValue(key.Handle(), i, name, &type, &data) == ERROR_SUCCESS; ++i)
            all.push_back(name + "=" + data);
        return all;
    }
    std::shared_ptr<MemoryPasswords> Passwords;
};

TEST_F(MailSecurity, ButtonSitsInTheFreeSpaceAndApplyAloneAddsNoValues) {
    StoreTasks({});
    StoreInteger("SMTPEnabled", 1);
    StartProgram();
    OpenOptions();
    EXPECT_EQ(FRM_Options->BTN_Security->text(), QString::fromUtf8("Se&curity…"));
    const QRect security = FRM_Options->BTN_Security->geometry();
    EXPECT_EQ(security.topLeft(), QPoint(8, 212));
    for (QWidget* w : FRM_Options->findChildren<QWidget*>()) {
        if (w != FRM_Options->BTN_Security && w->parent() == FRM_Options) {
            EXPECT_FALSE(security.intersects(w->geometry())) << w->objectName().toStdString();
        }
    }
    EXPECT_EQ(FRM_Options->BTN_Test->geometry(), QRect(160, 212, 48, 25));
    EXPECT_TRUE(FRM_Options->BTN_Security->isEnabled());
    QTest::mouseClick(FRM_Options->CHK_SMTP, Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_FALSE(FRM_Options->BTN_Security->isEnabled());
    QTest::mouseClick(FRM_Options->CHK_SMTP, Qt::LeftButton, {}, QPoint(8, 8));

    const auto before = AllStoredText();
    QTest::mouseClick(FRM_Options->BTN_Apply, Qt::LeftButton);
    EXPECT_EQ(AllStoredText(), before); // nothing new: SMTPSecurity and SMTPUser stay missing

    // Going through the dialog but cancelling it stores nothing either.
    OpenOptions();
    InSecurityDialog([](TFRM_MailSecurity* d) {
        d->CMB_Security->setCurrentIndex(2);
        d->TXT_User->setText(QStringLiteral("ann"));
        QTest::mouseClick(d->BTN_Cancel, Qt::LeftButton);
    });
    QTest::mouseClick(FRM_Options->BTN_Apply, Qt::LeftButton);
    EXPECT_EQ(AllStoredText(), before);
}

TEST_F(MailSecurity, ApplyStoresModeAndUserInTheHiveAndThePasswordOnlyInTheStore) {
    StoreTasks({});
    StoreInteger("SMTPEnabled", 1);
    StoreString("SMTPServer", "smtp.example.test");
    StartProgram();
    OpenOptions();
    InSecurityDialog([](TFRM_MailSecurity* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Ferrydesk - Mail Security"));
        EXPECT_EQ(d->CMB_Security->currentIndex(), 0);
        EXPECT_EQ(d->TXT_Password->echoMode(), QLineEdit::Password);
        d->CMB_Security->setCurrentIndex(1);
        QTest::keyClicks(d->TXT_User, QStringLiteral("ann"));
        QTest::keyClicks(d->TXT_Password, QStringLiteral("s3cret"));
        QTest::mouseClick(d->BTN_OK, Qt::LeftButton);
    });
    EXPECT_TRUE(Passwords->Items.empty()); // not before Apply
    QTest::mouseClick(FRM_Options->BTN_Apply, Qt::LeftButton);
    EXPECT_EQ(StoredInteger("SMTPSecurity"), 1);
    EXPECT_EQ(StoredString("SMTPUser"), "ann");
    EXPECT_EQ(Passwords->Read("smtp.example.test", "ann").value_or(""), "s3cret");
    for (const auto& value : AllStoredText())
        EXPECT_EQ(value.find("s3cret"), std::string::npos) << value;

    // Shown again: the stored mode and user, the password field empty, its presence said.
    OpenOptions();
    InSecurityDialog([](TFRM_MailSecurity* d) {
        EXPECT_EQ(d->CMB_Security->currentIndex(), 1);
        EXPECT_EQ(d->TXT_User->text(), QStringLiteral("ann"));
        EXPECT_TRUE(d->TXT_Password->text().isEmpty());
        // The store is asked off the user-interface thread; its answer follows.
        for (int i = 0; i < 500 && d->LBL_Stored->text().startsWith(QStringLiteral("Asking")); ++i)
            QTest::qWait(10);
        EXPECT_TRUE(d->LBL_Stored->text().startsWith(QStringLiteral("A password is stored")));
        QTest::mouseClick(d->BTN_OK, Qt::LeftButton); // empty field: keep the stored one
    });
    QTest::mouseClick(FRM_Options->BTN_Apply, Qt::LeftButton);
    EXPECT_EQ(Passwords->Read("smtp.example.test", "ann").value_or(""), "s3cret");
}

TEST_F(MailSecurity, CheckConnectionReportsWhatHappened) {
    TestCertificates certs;
    setenv("SSL_CERT_FILE", certs.CAFile.c_str(), 1);
    SmtpSink::Options options;
    options.certFile = certs.Localhost.cert;
    options.keyFile = certs.Localhost.key;
    options.starttls = true;
    options.auth = "ann:s3cret";
    SmtpSink sink(options);
    Passwords->Store("localhost", "ann", "s3cret");

    auto check = [&](TMailSecurity mode, const std::string& user) {
        TMailSettings current;
        current.SMTPServer = "localhost";
        current.SMTPPort = sink.Port();
        current.SMTPSecurity = mode;
        current.SMTPUser = user;
        TFRM_MailSecurity dialog(nullptr, current, true);
        dialog.StoredPassword = [&](const std::string& server, const std::string& u) {
            return Passwords->Read(server, u).value_or("");
        };
        QTest::mouseClick(dialog.BTN_Check, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.BTN_Check->isEnabled(); }, 20000));
        return dialog.MEM_Result->toPlainText().toStdString();
    };
    std::string good = check(TMailSecurity::StartTLS, "ann");
    EXPECT_NE(good.find("Connected to localhost:" + std::to_string(sink.Port()) + "."),
              std::string::npos)
        << good;
    EXPECT_NE(good.find("Encrypted with TLSv1."), std::string::npos) << good;
    EXPECT_NE(good.find("Certificate: CN = localhost"), std::string::npos) << good;
    EXPECT_NE(good.find("trusted and matches the host name"), std::string::npos) << good;
    EXPECT_NE(good.find("Signed in as ann."), std::string::npos) << good;

    std::string refused = check(TMailSecurity::StartTLS, "bob");
    EXPECT_NE(refused.find("No password is stored for bob."), std::string::npos) << refused;

    std::string plain = check(TMailSecurity::None, "ann");
    EXPECT_NE(plain.find("The connection is not encrypted."), std::string::npos) << plain;
    EXPECT_NE(plain.find("the password is not sent"), std::string::npos) << plain;
    EXPECT_TRUE(sink.Messages().empty());
    unsetenv("SSL_CERT_FILE");
}

// A server that takes the connection and says nothing in the TLS handshake: the trial waits
// its 15 seconds on its own thread while the window keeps answering, and a dialog closed
// meanwhile calls it off.
TEST_F(MailSecurity, CheckConnectionLeavesTheWindowAnsweringAndEndsWithTheDialog) {
    std::atomic<bool> done{false};
    std::atomic<bool> clientLeft{false};
    TcpTestServer silent(
        [&](TcpTestPeer& peer, int index) {
            for (int i = 0; i < 600 && !done; ++i)
                if (peer.WaitClosed(50)) {
                    clientLeft = index == 1;
                    break;
                }
        },
        2, 30000);
    const std::string where = "127.0.0.1:" + std::to_string(silent.Port());

    TMailSettings current;
    current.SMTPServer = "127.0.0.1";
    current.SMTPPort = silent.Port();
    current.SMTPSecurity = TMailSecurity::ImplicitTLS;
    auto dialog = std::make_unique<TFRM_MailSecurity>(nullptr, current, false);
    dialog->show();
    QElapsedTimer click;
    click.start();
    QTest::mouseClick(dialog->BTN_Check, Qt::LeftButton);
    EXPECT_LT(click.elapsed(), 100);
    EXPECT_FALSE(dialog->BTN_Check->isEnabled()) << "one trial at a time";
    EXPECT_EQ(dialog->MEM_Result->toPlainText().toStdString(), "Connecting to " + where + " …");
    const Latency latency =
        LatencyWhile([&] { return !dialog->BTN_Check->isEnabled(); }, std::chrono::seconds(25));
    ExpectAnswering(latency, click.elapsed() / 1000.0);
    ASSERT_TRUE(dialog->BTN_Check->isEnabled());
    EXPECT_EQ(dialog->MEM_Result->toPlainText().toStdString(),
              "Connected to " + where +
                  ".\nThe TLS handshake with 127.0.0.1 timed out: the server sent nothing within "
                  "15 seconds.");
    EXPECT_TRUE(dialog->BTN_Check->isEnabled());

    // Closed while the trial waits: the connection goes at once, and no late report arrives.
    QTest::mouseClick(dialog->BTN_Check, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return silent.Accepted() == 2; }, 5000));
    QTest::qWait(300);
    dialog->reject();
    dialog.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return clientLeft.load(); }, 1000))
        << "the trial went on after the dialog closed";
    QTest::qWait(200); // a report posted to the dialog now gone would be delivered here
    done = true;
    EXPECT_TRUE(silent.Wait(5000));
}

} // namespace
} // namespace ferry::test
