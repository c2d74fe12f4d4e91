// The client against a real SMTP server with TLS and AUTH (Debian's aiosmtpd) on 127.0.0.1,
// with certificates made for the test by a throw-away CA that the client is told to trust.
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

#include "mail/notification.h"
#include "mail/smtp.h"
#include "net/tls_io_handler.h"
#include "platform/host.h"
#include "support/scoped_env.h"
#include "support/smtp_script_server.h"
#include "support/smtp_sink.h"
#include "support/test_certificates.h"

namespace ferry {
namespace {

using test::ScopedEnv;
using test::SmtpSink;
using test::TestCertificates;

class SmtpTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Certs = new TestCertificates(); }
    static void TearDownTestSuite() {
        delete Certs;
        Certs = nullptr;
    }

    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        ReloadTimeZone();
        previous = SetClock([] { return std::time_t{1796116087}; }); // Tue 1 Dec 2026 09:08:07
        trust = std::make_unique<ScopedEnv>("SSL_CERT_FILE", Certs->CAFile.c_str());
    }
    void TearDown() override {
        trust.reset();
        SetClock(previous);
    }

    static SmtpSink::Options Server(const TestCertificates::Pair& pair, bool implicitTls) {
        SmtpSink::Options o;
        o.certFile = pair.cert;
        o.keyFile = pair.key;
        o.starttls = !implicitTls;
        o.implicitTls = implicitTls;
        o.auth = "ann:s3cret";
        return o;
    }

    // A notification to `port` signing in as ann with `password`, in security mode
    // `security` (0 none, 1 STARTTLS, 2 TLS from the first byte).
    struct Outgoing {
        TMailSettings Settings;
        std::string Password;
    };
    static Outgoing Mail(int port, int security, const std::string& password = "s3cret") {
        Outgoing mail;
        mail.Settings.SMTPServer = "localhost";
        mail.Settings.SMTPPort = port;
        mail.Settings.SMTPFrom = "s@h.test";
        mail.Settings.SMTPTo = "a@h.test; b@h.test";
        mail.Settings.SMTPMessage = "Files have been processed.";
        mail.Settings.SMTPSecurity = static_cast<TMailSecurity>(security);
        mail.Settings.SMTPUser = "ann";
        mail.Password = password;
        return mail;
    }

    static std::string Send(const Outgoing& mail) {
        std::string failure;
        SendNotificationMail(mail.Settings, mail.Password, MailLimits{10000, 10000},
                             [&](const std::exception& e) { failure = e.what(); });
        return failure;
    }

    static std::string Joined(const std::vector<std::string>& chunks) {
        std::string all;
        for (const auto& c : chunks)
            all += c;
        return all;
    }

    static inline TestCertificates* Certs = nullptr;
    const std::string Data = "From: \"s@h.test\" <s@h.test>\r\n"
                             "Subject: Notification Message!\r\n"
                             "To: a@h.test, b@h.test\r\n"
                             "Date: Tue, 1 Dec 2026 09:08:07 +0000\r\n"
                             "\r\n"
                             "Files have been processed.\r\n"
                             "\r\n";
    ClockFunction previous;
    std::unique_ptr<ScopedEnv> trust;
};

TEST_F(SmtpTls, StartTlsThenPlainSignIn) {
    SmtpSink sink(Server(Certs->Localhost, false));
    ASSERT_EQ(Send(Mail(sink.Port(), 1)), "");
    auto messages = sink.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].data, Data);
    EXPECT_EQ(messages[0].rcptTo, (std::vector<std::string>{"a@h.test", "b@h.test"}));

    // In clear: the greeting exchange and STARTTLS only.
    auto clear = sink.ClearInput();
    ASSERT_EQ(clear.size(), 1u);
    EXPECT_EQ(clear[0].substr(0, 5), "EHLO ");
    EXPECT_NE(clear[0].find("\r\nSTARTTLS\r\n"), std::string::npos) << clear[0];
    EXPECT_EQ(clear[0].find("AUTH"), std::string::npos);
    EXPECT_EQ(clear[0].find("MAIL"), std::string::npos);

    // Encrypted: EHLO again, then AUTH PLAIN with the credentials, then the transaction.
    std::string all = Joined(sink.Connections()[0]);
    size_t second = all.find("EHLO ", all.find("STARTTLS"));
    size_t auth = all.find("AUTH PLAIN AGFubgBzM2NyZXQ=\r\n");
    ASSERT_NE(second, std::string::npos);
    ASSERT_NE(auth, std::string::npos) << all;
    EXPECT_LT(second, auth);
    EXPECT_LT(auth, all.find("MAIL FROM: <s@h.test>"));
}

TEST_F(SmtpTls, StartTlsThenLoginWhenPlainIsNotOffered) {
    auto options = Server(Certs->Localhost, false);
    options.noPlain = true;
    SmtpSink sink(options);
    ASSERT_EQ(Send(Mail(sink.Port(), 1)), "");
    auto messages = sink.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].data, Data);
    std::string all = Joined(sink.Connections()[0]);
    EXPECT_NE(all.find("AUTH LOGIN\r\nYW5u\r\nczNjcmV0\r\n"), std::string::npos) << all;
    EXPECT_EQ(all.find("AUTH PLAIN"), std::string::npos);
}

TEST_F(SmtpTls, ImplicitTlsThenPlainSignIn) {
    SmtpSink sink(Server(Certs->Localhost, true));
    ASSERT_EQ(Send(Mail(sink.Port(), 2)), "");
    auto messages = sink.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].data, Data);
    std::string all = Joined(sink.Connections()[0]);
    EXPECT_EQ(all.find("STARTTLS"), std::string::npos);
    EXPECT_NE(all.find("AUTH PLAIN "), std::string::npos);
    EXPECT_EQ(sink.Connections()[0].back(), "QUIT\r\n");
}

TEST_F(SmtpTls, WrongPasswordIsRefusedWithTheServersText) {
    SmtpSink sink(Server(Certs->Localhost, false));
    EXPECT_EQ(Send(Mail(sink.Port(), 1, "wrong")),
              "Sign-in refused by the server: 535 5.7.8 Authentication credentials invalid");
    EXPECT_TRUE(sink.WaitForMessages(1, std::chrono::milliseconds(300)).empty());
    EXPECT_EQ(Joined(sink.Connections()[0]).find("MAIL FROM"), std::string::npos);
}

TEST_F(SmtpTls, UntrustedCertificatesAreRefusedSayingWhy) {
    struct Case {
        const TestCertificates::Pair* pair;
        const char* text;
    };
    for (Case c : {Case{&Certs->OtherHost, "it was issued for another host name than localhost."},
                   Case{&Certs->Expired, "it has expired."},
                   Case{&Certs->Foreign, "its issuer is unknown."}}) {
        for (bool implicitTls : {false, true}) {
            SmtpSink sink(Server(*c.pair, implicitTls));
            EXPECT_EQ(Send(Mail(sink.Port(), implicitTls ? 2 : 1)),
                      std::string("The server's certificate is not trusted: ") + c.text)
                << c.pair->cert << " implicit " << implicitTls;
            // Nothing but the greeting exchange and STARTTLS went out; no QUIT in clear after.
            std::string all = Joined(sink.Connections()[0]);
            EXPECT_EQ(all.find("AUTH"), std::string::npos) << all;
            EXPECT_EQ(all.find("MAIL"), std::string::npos) << all;
            EXPECT_EQ(all.find("QUIT"), std::string::npos) << all;
        }
    }
}

TEST_F(SmtpTls, StartTlsRequiredButNotOfferedSendsNothingInClear) {
    SmtpSink::Options options;
    options.auth = "ann:s3cret"; // offered in clear: the client must not take it up
    SmtpSink sink(options);
    EXPECT_EQ(Send(Mail(sink.Port(), 1)), "The server does not offer STARTTLS, so the connection "
                                          "cannot be encrypted. Nothing was sent.");
    auto clear = sink.ClearInput();
    ASSERT_EQ(clear.size(), 1u);
    EXPECT_EQ(clear[0].find("STARTTLS"), std::string::npos);
    EXPECT_EQ(clear[0].find("AUTH"), std::string::npos);
    EXPECT_EQ(clear[0].find("MAIL"), std::string::npos);
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(SmtpTls, CredentialsAreNeverSentOnAPlainConnection) {
    SmtpSink::Options options;
    options.auth = "ann:s3cret";
    SmtpSink sink(options);
    EXPECT_EQ(Send(Mail(sink.Port(), 0)),
              "The connection is not encrypted, so the password is not sent. Choose STARTTLS or "
              "TLS as the security mode.");
    auto clear = sink.ClearInput();
    ASSERT_EQ(clear.size(), 1u);
    EXPECT_EQ(clear[0].find("AUTH"), std::string::npos) << clear[0];
    EXPECT_EQ(clear[0].find("YW5u"), std::string::npos);
    EXPECT_TRUE(sink.Messages().empty());

    // A user name with an encrypted connection but no password: said in words, nothing sent.
    SmtpSink tls(Server(Certs->Localhost, false));
    EXPECT_EQ(Send(Mail(tls.Port(), 1, "")), "No password is stored for ann.");
    EXPECT_EQ(Joined(tls.Connections()[0]).find("AUTH"), std::string::npos);
}

// Bytes the server sends in clear right behind its consent to STARTTLS would otherwise be read
// as the first encrypted reply: a man in the middle could answer for the real server.
TEST(SmtpStartTls, ClearTextAfterTheConsentIsRefusedAndTheConnectionDropped) {
    test::SmtpScriptServer server;
    server.Reply("220 ready")
        .ExpectLine("EHLO client.test")
        .Send("250-hi\r\n250 STARTTLS\r\n")
        .ExpectLine("STARTTLS")
        .Send("220 go ahead\r\n250-injected\r\n250 AUTH PLAIN\r\n")
        .ExpectClose();
    server.Start();
    TIdSMTP client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.SetReadTimeout(5000);
    client.HeloName = "client.test";
    client.UseTLS = utUseRequireTLS;
    client.Username = "ann";
    client.Password = "s3cret";
    client.OpenSession();
    try {
        client.Authenticate();
        ADD_FAILURE() << "the upgrade went on";
    } catch (const EIdTLSError& e) {
        EXPECT_STREQ(e.what(), "The server sent data in clear after agreeing to encrypt; the "
                               "connection was closed.");
    }
    EXPECT_FALSE(client.Authenticated());
    client.CloseSession(true); // no QUIT: the connection is already gone
    EXPECT_EQ(server.Finish(), "");
}

} // namespace
} // namespace ferry
