#include "mail/connection_check.h"

#include <exception>

#include "mail/smtp.h"
#include "net/id_errors.h"
#include "net/tls_io_handler.h"

namespace ferry {

namespace {

void ReportEncryption(TIdSMTP& client, const TMailSettings& mail, std::string& text) {
    // What the handshake settled on is kept by the handler after a later failure closed the
    // connection: the link was encrypted even if sign-in then went wrong.
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(client.IOHandler());
    TIdTLSInfo info = tls ? tls->Info() : TIdTLSInfo{};
    if (info.Version.empty()) {
        // A mode that asks for TLS and did not get it has its failure to tell instead.
        if (mail.SMTPSecurity == TMailSecurity::None)
            text += "The connection is not encrypted.\n";
        return;
    }
    text += "Encrypted with " + info.Version + ", cipher " + info.Cipher + ".\n";
    text += "Certificate: " + info.PeerSubject + "\n";
    text += "Issued by: " + info.PeerIssuer + "\n";
    text += info.Trusted ? "The certificate is trusted and matches the host name.\n"
                         : "The certificate is NOT trusted.\n";
}

// A server that waits for a TLS handshake sends no greeting; one that greets in clear at
// once fails the handshake with text. The usual ports say which mode was meant.
std::string ImplicitTLSHint(int port) {
    if (port == 465)
        return "Port 465 usually means TLS from the first byte: choose TLS (usually port 465) "
               "as the security mode.\n";
    return "A server that expects TLS from the first byte (as on port 465, usually) stays "
           "silent like this: if this one does, choose TLS (usually port 465) as the security "
           "mode.\n";
}

std::string StartTLSHint(int port) {
    if (port == 587 || port == 25)
        return "Port " + std::to_string(port) +
               " usually means STARTTLS: choose STARTTLS (usually port 587) as the security "
               "mode.\n";
    return "The server expects STARTTLS (as on ports 587 and 25, usually): choose STARTTLS "
           "(usually port 587) as the security mode.\n";
}

std::string ExplainTimeout(TSMTPStep step, const TMailSettings& mail, int readMs) {
    const std::string within = "within " + SecondsText(readMs);
    switch (step) {
    case TSMTPStep::Greeting: {
        std::string text = "The server sent nothing " + within + ": no greeting came.\n";
        if (mail.SMTPSecurity != TMailSecurity::ImplicitTLS)
            text += ImplicitTLSHint(mail.SMTPPort);
        return text;
    }
    case TSMTPStep::Hello:
        return "The server did not answer EHLO " + within + ".\n";
    case TSMTPStep::StartTLS:
        return "The server did not answer STARTTLS " + within + ".\n";
    case TSMTPStep::SignIn:
        return "The server did not answer the sign-in as " + mail.SMTPUser + " " + within +
               ". Some servers stay silent instead of refusing a wrong user name or password: "
               "check both.\n";
    default:
        return "The server did not answer " + within + ".\n";
    }
}

std::string Explain(const std::exception& e, TSMTPStep step, const TMailSettings& mail,
                    int readMs) {
    if (dynamic_cast<const EIdReadTimeout*>(&e))
        return ExplainTimeout(step, mail, readMs);
    std::string text = std::string(e.what()) + "\n";
    if (auto* cert = dynamic_cast<const EIdTLSCertificateError*>(&e)) {
        if (!cert->PeerSubject.empty())
            text += "Certificate: " + cert->PeerSubject + "\nIssued by: " + cert->PeerIssuer + "\n";
        const std::string advice = CertificateAdviceText(cert->VerifyResult, mail.SMTPServer);
        if (!advice.empty())
            text += advice + "\n";
    } else if (dynamic_cast<const EIdTLSPlainTextAnswer*>(&e)) {
        text += StartTLSHint(mail.SMTPPort);
    }
    return text;
}

} // namespace

TMailConnectionReport CheckMailConnection(const TMailSettings& mail, const std::string& password,
                                          const MailLimits& limits) {
    TMailConnectionReport report;
    const std::string where = mail.SMTPServer + ":" + std::to_string(mail.SMTPPort);
    TIdSMTP client;
    ConfigureMailClient(client, mail, password, limits);

    std::string& text = report.text;
    try {
        client.OpenSession();
        client.Authenticate();
        text += "Connected to " + where + ".\n";
        ReportEncryption(client, mail, text);
        if (mail.SMTPUser.empty())
            text += "No user name is set, so no sign-in was tried.\n";
        else
            text += "Signed in as " + mail.SMTPUser + ".\n";
        report.ok = true;
    } catch (const std::exception& e) {
        const bool connected = client.Step() != TSMTPStep::Connect;
        text += (connected ? "Connected to " : "Could not connect to ") + where + ".\n";
        if (connected)
            ReportEncryption(client, mail, text);
        text += Explain(e, client.Step(), mail, limits.ReadMs);
    }
    try {
        client.CloseSession(true);
    } catch (const std::exception& e) {
        text += std::string("Closing the connection failed: ") + e.what() + "\n";
    }
    return report;
}

} // namespace ferry
