// Security… on a desktop without a password store: a real session bus with no Secret
// Service on it, and one whose Secret Service is installed but never starts.
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <thread>

#include "keyring/secret_service_password_source.h"
#include "mail/password_source.h"
#include "modal_driver.h"
#include "settings/mail_settings.h"
#include "support/session_bus.h"
#include "ui/frm_mail_security.h"
#include "ui/frm_options.h"
#include "ui/frm_task_list.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

// The user-interface thread's pulse: a timer due every 10 ms, and the longest time between
// two of its beats.
class Heartbeat {
public:
    Heartbeat() {
        Since_.start();
        Timer_.setInterval(10);
        QObject::connect(&Timer_, &QTimer::timeout,
                         [this] { Longest_ = std::max(Longest_, Since_.restart()); });
        Timer_.start();
    }
    qint64 LongestMs() const { return std::max(Longest_, Since_.elapsed()); }

private:
    QTimer Timer_;
    QElapsedTimer Since_;
    qint64 Longest_ = 0;
};

class NoPasswordStore : public ProgramTest {
protected:
    void TearDown() override {
        SetMailPasswordSource(nullptr);
        ProgramTest::TearDown();
    }
};

TEST_F(NoPasswordStore, TheWindowsKeepAnsweringAndSayWhatIsMissing) {
    const QString missing =
        QStringLiteral("No password store is running; install one (e.g. gnome-keyring).");
    for (SessionBus::Secrets secrets : {SessionBus::Secrets::None, SessionBus::Secrets::Stuck}) {
        const bool stuck = secrets == SessionBus::Secrets::Stuck;
        SCOPED_TRACE(stuck ? "installed but never starts" : "none on the bus");
        SessionBus bus(secrets);
        if (!bus.Ok())
            GTEST_SKIP() << bus.Why();
        SetMailPasswordSource(std::make_shared<TSecretServicePasswordSource>());
        StoreTasks({});
        StoreInteger("SMTPEnabled", 1);
        StoreString("SMTPServer", "smtp.example.test");
        StoreInteger("SMTPSecurity", static_cast<int32_t>(TMailSecurity::StartTLS));
        StoreString("SMTPUser", "ann");
        StartProgram();

        QTest::mouseClick(FRM_TaskList->BTN_Options, Qt::LeftButton);
        ASSERT_TRUE(FRM_Options->isVisible());
        {
            // The first dialog of a run loads its fonts, which has nothing to do with the store.
            TFRM_MailSecurity first(FRM_Options, TMailSettings(), false);
            first.show();
            QCoreApplication::processEvents();
        }

        Heartbeat beat;
        QElapsedTimer clock;
        qint64 opened = -1, answered = -1;
        bool seen = false;
        WhenModalOpens([&](QWidget* modal) {
            auto* dialog = qobject_cast<TFRM_MailSecurity*>(modal);
            ASSERT_NE(dialog, nullptr);
            seen = true;
            opened = clock.elapsed();
            EXPECT_TRUE(dialog->LBL_Stored->text().startsWith(QStringLiteral("Asking")))
                << dialog->LBL_Stored->text().toStdString();
            while (dialog->LBL_Stored->text().startsWith(QStringLiteral("Asking")) &&
                   clock.elapsed() < 20000) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            answered = clock.elapsed();
            EXPECT_EQ(dialog->LBL_Stored->text(), missing);
            const std::string why = dialog->LBL_Stored->toolTip().toStdString();
            EXPECT_NE(why.find("Secret Service"), std::string::npos) << why;
            EXPECT_NE(why.find(stuck ? "did not start" : "nothing on the session bus"),
                      std::string::npos)
                << why;
            QTest::keyClicks(dialog->TXT_Password, QStringLiteral("s3cret"));
            QTest::mouseClick(dialog->BTN_OK, Qt::LeftButton);
        });
        clock.start();
        QTest::mouseClick(FRM_Options->BTN_Security, Qt::LeftButton);
        EXPECT_TRUE(seen);

        // Apply keeps the mode and user, and says plainly why the password was not kept.
        QTest::mouseClick(FRM_Options->BTN_Apply, Qt::LeftButton);
        ASSERT_EQ(Prompts.Errors.size(), 1u);
        const std::string& error = Prompts.Errors[0];
        EXPECT_EQ(error.rfind("The password was not saved. No password store is running on "
                              "this desktop",
                              0),
                  0u)
            << error;
        EXPECT_NE(error.find("gnome-keyring"), std::string::npos) << error;
        EXPECT_EQ(error.find("StartServiceByName"), std::string::npos) << error;
        EXPECT_EQ(StoredString("SMTPUser"), "ann");

        const qint64 longest = beat.LongestMs();
        std::printf("[ figures  ] %s: dialog up after %lld ms, answer after %lld ms, longest "
                    "pause of the window %lld ms\n",
                    stuck ? "stuck store" : "no store", static_cast<long long>(opened),
                    static_cast<long long>(answered), static_cast<long long>(longest));
        EXPECT_LT(opened, 100);
        EXPECT_LT(longest, 100);
        Prompts.Errors.clear();
        App.reset();
    }
}

} // namespace
} // namespace ferry::test
