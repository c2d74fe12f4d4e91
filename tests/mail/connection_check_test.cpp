// Check connection's report against real servers on 127.0.0.1 that are set up wrongly in the
// ways users meet: each report must say what really happened and what to do about it.
#include <gtest/gtest.h>
#include <memory>

#include "mail/connection_check.h"
#include "support/scoped_env.h"
#include "support/smtp_sink.h"
#include "support/tcp_server.h"
#include "support/test_certificates.h"

namespace ferry {
namespace {

using test::ScopedEnv;
using test::SmtpSink;
using test::TestCertificates;

// Check connection to `port` in security mode `security` (0 none, 1 STARTTLS, 2 TLS from
// the first byte), signing in as `user` with a wrong password, waiting 1.5 s for each reply.
TMailConnectionReport Trial(int port, int security, const std::string& user = {}) {
    TMailSettings mail;
    mail.SMTPServer = "localhost";
    mail.SMTPPort = port;
    mail.SMTPSecurity = static_cast<TMailSecurity>(security);
    mail.SMTPUser = user;
    return CheckMailConnection(mail, "wrong", MailLimits{5000, 1500});
}

class ConnectionCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Certs = new TestCertificates(); }
    static void TearDownTestSuite() {
        delete Certs;
        Certs = nullptr;
    }
    static SmtpSink::Options Tls(const TestCertificates::Pair& pair, bool implicitTls) {
        SmtpSink::Options o;
        o.certFile = pair.cert;
        o.keyFile = pair.key;
        o.starttls = !implicitTls;
        o.implicitTls = implicitTls;
        return o;
    }
    static inline TestCertificates* Certs = nullptr;
    ScopedEnv trust{"SSL_CERT_FILE", Certs ? Certs->CAFile.c_str() : nullptr};
};

TEST_F(ConnectionCheck, ASignInLeftUnansweredIsReportedOnTheEncryptedLink) {
    auto options = Tls(Certs->Localhost, false);
    options.auth = "ann:s3cret";
    options.silentAuth = true;
    SmtpSink sink(options);
    TMailConnectionReport report = Trial(sink.Port(), 1, "ann");
    EXPECT_FALSE(report.ok);
    const std::string& text = report.text;
    EXPECT_EQ(text.rfind("Connected to localhost:" + std::to_string(sink.Port()) +
                             ".\n"
                             "Encrypted with TLSv1.",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("\nCertificate: CN = localhost\nIssued by: CN = ca\n"
                        "The certificate is trusted and matches the host name.\n"
                        "The server did not answer the sign-in as ann within 1.5 seconds. Some "
                        "servers stay silent instead of refusing a wrong user name or password: "
                        "check both.\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("not encrypted"), std::string::npos) << text;
    EXPECT_EQ(text.find("Read Timeout"), std::string::npos) << text;
}

// The mode and the port's kind disagree: STARTTLS against TLS from the first byte (no greeting
// comes), and TLS against a server that greets in clear.
TEST_F(ConnectionCheck, AModeThatDoesNotFitThePortSaysWhichModeFits) {
    SmtpSink implicitPort(Tls(Certs->Localhost, true));
    const std::string implicitAt = "localhost:" + std::to_string(implicitPort.Port());
    for (int security : {1, 0}) {
        TMailConnectionReport report = Trial(implicitPort.Port(), security);
        EXPECT_FALSE(report.ok);
        EXPECT_EQ(report.text,
                  "Connected to " + implicitAt + ".\n" +
                      (security == 0 ? "The connection is not encrypted.\n" : "") +
                      "The server sent nothing within 1.5 seconds: no greeting came.\n"
                      "A server that expects TLS from the first byte (as on port 465, usually) "
                      "stays silent like this: if this one does, choose TLS (usually port 465) "
                      "as the security mode.\n")
            << "mode " << security;
    }

    SmtpSink plainPort;
    TMailConnectionReport report = Trial(plainPort.Port(), 2);
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.text, "Connected to localhost:" + std::to_string(plainPort.Port()) +
                               ".\n"
                               "The TLS handshake with localhost failed: the server answered in "
                               "plain text (\"220 sink.test ferry-sink\"), not TLS.\n"
                               "The server expects STARTTLS (as on ports 587 and 25, usually): "
                               "choose STARTTLS (usually port 587) as the security mode.\n");
}

TEST_F(ConnectionCheck, AnUntrustedCertificateNamesItsIssuerAndWhatToDo) {
    struct Case {
        const TestCertificates::Pair* pair;
        std::string problem;
        std::string issuer;
        std::string advice;
    };
    const Case cases[] = {
        {&Certs->Foreign, "its issuer is unknown.", "CN = foreign-ca",
         "To trust it, once you know it is the server's, add its issuer's certificate (of a "
         "self-signed one, the certificate itself) to the system's trusted certificates: on "
         "Debian, copy it as a .crt file into /usr/local/share/ca-certificates/ and run "
         "update-ca-certificates as root. Or name the file in SSL_CERT_FILE, or its folder in "
         "SSL_CERT_DIR, in the environment Ferrydesk starts in."},
        {&Certs->Expired, "it has expired.", "CN = ca",
         "The server's administrator must renew it; if it should be valid, check this "
         "computer's date and time."},
        {&Certs->OtherHost, "it was issued for another host name than localhost.", "CN = ca",
         "Enter the host name the certificate was issued for as the SMTP server, or ask the "
         "server's administrator for a certificate for localhost."},
    };
    for (const Case& c : cases) {
        for (bool implicitTls : {false, true}) {
            SmtpSink sink(Tls(*c.pair, implicitTls));
            TMailConnectionReport report = Trial(sink.Port(), implicitTls ? 2 : 1);
            EXPECT_FALSE(report.ok);
            const std::string subject =
                c.pair == &Certs->OtherHost ? "CN = other.test" : "CN = localhost";
            EXPECT_EQ(report.text, "Connected to localhost:" + std::to_string(sink.Port()) +
                                       ".\nThe server's certificate is not trusted: " + c.problem +
                                       "\nCertificate: " + subject + "\nIssued by: " + c.issuer +
                                       "\n" + c.advice + "\n")
                << c.problem << " implicit " << implicitTls;
        }
    }
}

} // namespace
} // namespace ferry
