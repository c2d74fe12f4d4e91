#include "mail/notification.h"

#include "mail/message.h"
#include "mail/password_source.h"
#include "mail/smtp.h"

namespace ferry {

namespace {

// Everything of the message but its recipients, which each caller parses once, in its place.
void FillNotification(TIdMessage& message, const TMailSettings& settings) {
    message.From().Address = settings.SMTPFrom;
    message.Subject = NotificationSubject;
    message.SetBodyText(settings.SMTPMessage);
}

void Deliver(TIdMessage& message, const TMailSettings& settings, const std::string& password,
             const MailLimits& limits,
             const std::function<void(const std::exception&)>& onSendFailure) {
    TIdSMTP client;
    ConfigureMailClient(client, settings, password, limits);
    try {
        client.OpenSession();
        client.DeliverMessage(message);
    } catch (const std::exception& e) {
        if (onSendFailure)
            onSendFailure(e);
    }
    client.CloseSession(true);
}

} // namespace

void ConfigureMailClient(TIdSMTP& client, const TMailSettings& settings,
                         const std::string& password, const MailLimits& limits) {
    client.SetHost(settings.SMTPServer);
    client.SetPort(settings.SMTPPort);
    client.SetConnectTimeout(limits.ConnectMs);
    client.SetReadTimeout(limits.ReadMs);
    switch (settings.SMTPSecurity) {
    case TMailSecurity::None:
        break;
    case TMailSecurity::StartTLS:
        client.UseTLS = utUseRequireTLS;
        break;
    case TMailSecurity::ImplicitTLS:
        client.UseTLS = utUseImplicitTLS;
        break;
    }
    client.Username = settings.SMTPUser;
    client.Password = password;
}

void SendNotificationMail(const TMailSettings& settings, const std::string& password,
                          const MailLimits& limits,
                          const std::function<void(const std::exception&)>& onSendFailure) {
    TIdMessage message;
    message.Recipients.SetAddressesText(settings.SMTPTo);
    FillNotification(message, settings);
    Deliver(message, settings, password, limits, onSendFailure);
}

std::string LookUpMailPassword(const std::string& server, const std::string& user) {
    // A store that cannot be reached counts as no password: the sign-in then says so.
    try {
        if (auto source = MailPasswordSource())
            if (auto password = source->Read(server, user))
                return *password;
    } catch (const std::exception&) {
    }
    return {};
}

void SendNotification(const std::function<void(const std::exception&)>& onSendFailure,
                      const std::vector<std::string>& moreLines) {
    // Nothing when the key is missing or notifications are off; its read errors continue.
    // The recipients are parsed into the message as soon as they are read, so that their
    // error comes before any error of reading the message text.
    TIdMessage message;
    const std::optional<TMailSettings> settings = ReadNotificationSettings(
        [&message](const std::string& to) { message.Recipients.SetAddressesText(to); });
    if (!settings)
        return;
    FillNotification(message, *settings);
    if (!moreLines.empty()) {
        std::string body = settings->SMTPMessage.substr(0, settings->SMTPMessage.find('\0'));
        body += "\r\n";
        for (const std::string& line : moreLines)
            body += "\r\n" + line;
        message.SetBodyText(body);
    }
    const std::string password = settings->SMTPUser.empty()
                                     ? std::string()
                                     : LookUpMailPassword(settings->SMTPServer, settings->SMTPUser);
    Deliver(message, *settings, password, MailLimits(), onSendFailure);
}

} // namespace ferry
