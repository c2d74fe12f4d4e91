#include "mail/connection_check.h"

#include <exception>

#include "mail/smtp.h"
#include "net/tls_io_handler.h"

namespace ferry {

namespace {

void ReportTLS(TIdSMTP& client, std::string& text) {
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(client.IOHandler());
    if (!tls || !tls->TLSActive()) {
        text += "The connection is not encrypted.\n";
        return;
    }
    TIdTLSInfo info = tls->Info();
    text += "Encrypted with " + info.Version + ", cipher " + info.Cipher + ".\n";
    text += "Certificate: " + info.PeerSubject + "\n";
    text += "Issued by: " + info.PeerIssuer + "\n";
    text += info.Trusted ? "The certificate is trusted and matches the host name.\n"
                         : "The certificate is NOT trusted.\n";
}

} // namespace

TMailConnectionReport CheckMailConnection(const TMailSettings& settings,
                                          const std::string& password, const MailLimits& limits) {
    TMailConnectionReport report;
    const std::string where = settings.SMTPServer + ":" + std::to_string(settings.SMTPPort);
    TIdSMTP client;
    ConfigureMailClient(client, settings, password, limits);

    std::string& text = report.text;
    bool connected = false;
    try {
        client.OpenSession();
        connected = true;
        text += "Connected to " + where + ".\n";
        client.Authenticate();
        ReportTLS(client, text);
        if (settings.SMTPUser.empty())
            text += "No user name is set, so no sign-in was tried.\n";
        else
            text += "Signed in as " + settings.SMTPUser + ".\n";
        report.ok = true;
    } catch (const std::exception& e) {
        if (!connected)
            text += "Could not connect to " + where + ".\n";
        else
            ReportTLS(client, text);
        text += e.what();
        text += "\n";
    }
    try {
        client.CloseSession(true);
    } catch (const std::exception& e) {
        text += std::string("Closing the connection failed: ") + e.what() + "\n";
    }
    return report;
}

} // namespace ferry
