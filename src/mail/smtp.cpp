#include "mail/smtp.h"

#include <exception>

#include "mail/address.h"
#include "mail/message.h"
#include "mail/reply_smtp.h"

namespace ferry {

void TIdSMTP::OpenSession() {
    PrepareTLSHandler();
    Step_ = TSMTPStep::Connect;
    Connect();
    try {
        if (UseTLS == utUseImplicitTLS)
            StartImplicitTLS();
        Step_ = TSMTPStep::Greeting;
        GetResponse({220});
        Step_ = TSMTPStep::Hello;
        ExchangeGreeting();
    } catch (...) {
        std::exception_ptr first = std::current_exception();
        CloseSession(true); // its own error, if any, continues instead
        std::rethrow_exception(first);
    }
}

void TIdSMTP::CloseSession(bool notifyPeer) {
    Disconnect(notifyPeer);
    Authenticated_ = false;
}

void TIdSMTP::DisconnectNotifyPeer() {
    SendCmd("QUIT", {221});
}

void TIdSMTP::Authenticate() {
    if (Authenticated_)
        return;
    TLSUpgradeIfOffered();
    switch (AuthType) {
    case atNone:
        Authenticated_ = true;
        break;
    case atDefault:
        // Without a user name nothing is sent and the step stays undone.
        if (!Username.empty())
            Login();
        break;
    case atSASL:
        break;
    }
}

void TIdSMTP::DeliverMessage(TIdMessage& message) {
    Authenticate(); // its outcome is not examined: delivery goes on either way
    Step_ = TSMTPStep::Transaction;
    message.ExtraHeaders.SetValue("X-Mailer", MailAgent);

    // Primary recipients, then copies, then blind copies, all through the address-list text
    // rules once more.
    TIdEMailAddressList recipients;
    recipients.SetAddressesText(message.Recipients.AddressesText());
    if (message.CCList.Count() > 0)
        recipients.SetAddressesText(recipients.AddressesText() + ", " +
                                    message.CCList.AddressesText());
    if (message.BccList.Count() > 0)
        recipients.SetAddressesText(recipients.AddressesText() + ", " +
                                    message.BccList.AddressesText());

    if (PipeLine && ServerExtensions.Contains("PIPELINING"))
        SendPipelinedTransaction(message, recipients);
    else
        SendPlainTransaction(message, recipients);
}

std::vector<std::string> TIdSMTP::Expand(const std::string& name) {
    SendCmd("EXPN " + name, {250, 251});
    return LastReply->Text;
}

std::string TIdSMTP::Verify(const std::string& name) {
    SendCmd("VRFY " + name, {250, 251});
    return LastReply->Text.empty() ? std::string() : LastReply->Text.front();
}

} // namespace ferry
