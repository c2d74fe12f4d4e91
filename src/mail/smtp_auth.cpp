#include <memory>
#include <openssl/evp.h>

#include "base/text.h"
#include "mail/reply_smtp.h"
#include "mail/smtp.h"
#include "mail/smtp_security_errors.h"
#include "net/tls_io_handler.h"

namespace ferry {

namespace {

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string Upper(std::string s) {
    for (auto& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

} // namespace

void TIdSMTP::PrepareTLSHandler() {
    if (UseTLS == utNoTLSSupport || IOHandler())
        return;
    auto handler = std::make_unique<TIdIOHandlerTLS>();
    handler->OnStatus = OnStatus;
    SetIOHandler(std::move(handler));
    ManagedIOHandler_ = true; // released again when the connect fails, like the default one
}

bool TIdSMTP::ConnectionEncrypted() const {
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(IOHandler());
    return tls && tls->TLSActive();
}

void TIdSMTP::StartImplicitTLS() {
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(IOHandler());
    if (!tls)
        throw EIdSMTPAuthError("The connection object cannot encrypt.");
    Step_ = TSMTPStep::TLSHandshake;
    tls->StartTLS();
}

void TIdSMTP::TLSUpgradeIfOffered() {
    if (UseTLS != utUseRequireTLS && UseTLS != utUseExplicitTLS)
        return;
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(IOHandler());
    if (!tls || tls->TLSActive())
        return;
    if (!ServerExtensions.Contains("STARTTLS")) {
        if (UseTLS == utUseRequireTLS)
            throw EIdSMTPTLSNotOffered();
        return;
    }
    Step_ = TSMTPStep::StartTLS;
    SendCmd("STARTTLS", {220});
    Step_ = TSMTPStep::TLSHandshake;
    tls->StartTLS();
    // What the server offered in clear may have been tampered with: ask again.
    Step_ = TSMTPStep::Hello;
    ExchangeGreeting();
}

std::vector<std::string> TIdSMTP::ServerAuthMechanisms() const {
    std::vector<std::string> found;
    for (const auto& line : ServerExtensions.Lines) {
        std::string upper = Upper(line);
        // "AUTH=" is the form some older servers still send.
        if (upper.rfind("AUTH ", 0) != 0 && upper.rfind("AUTH=", 0) != 0)
            continue;
        size_t pos = 5;
        while (pos < upper.size()) {
            size_t end = upper.find(' ', pos);
            if (end == std::string::npos)
                end = upper.size();
            if (end > pos)
                found.push_back(upper.substr(pos, end - pos));
            pos = end + 1;
        }
    }
    return found;
}

void TIdSMTP::Login() {
    Step_ = TSMTPStep::SignIn;
    // The password never crosses an unencrypted connection, whatever the server offers.
    if (!ConnectionEncrypted())
        throw EIdSMTPAuthError("The connection is not encrypted, so the password is not sent. "
                               "Choose STARTTLS or TLS as the security mode.");
    if (Password.empty())
        throw EIdSMTPNoPassword(Username);
    auto mechanisms = ServerAuthMechanisms();
    auto offers = [&](const char* name) {
        for (const auto& m : mechanisms)
            if (m == name)
                return true;
        return false;
    };
    if (mechanisms.empty())
        throw EIdSMTPAuthError("The server does not offer sign-in (no AUTH in its reply to EHLO).");

    // The server's whole answer, enhanced code included: it is what the user can act on.
    auto refused = [this](int code) {
        std::string text = std::to_string(code);
        if (auto* smtp = dynamic_cast<TIdReplySMTP*>(LastReply.get()))
            if (smtp->EnhancedCode.Available())
                text += " " + smtp->EnhancedCode.ReplyAsStr();
        for (const auto& l : LastReply->Text)
            text += " " + l;
        throw EIdSMTPAuthRefused(code, text);
    };
    int code;
    if (offers("PLAIN")) {
        code =
            SendCmd("AUTH PLAIN " + Base64(std::string(1, '\0') + Username + '\0' + Password), {});
    } else if (offers("LOGIN")) {
        code = SendCmd("AUTH LOGIN", {});
        if (code == 334)
            code = SendCmd(Base64(Username), {});
        if (code == 334)
            code = SendCmd(Base64(Password), {});
    } else {
        std::string list;
        for (const auto& m : mechanisms)
            list += (list.empty() ? "" : ", ") + m;
        throw EIdSMTPAuthError("The server offers no sign-in method this program supports (it "
                               "offers " +
                               list + "; supported are PLAIN and LOGIN).");
    }
    if (code != 235)
        refused(code);
    Authenticated_ = true;
}

} // namespace ferry
