#include "mail/notification.h"

#include <memory>
#include <optional>

#include "mail/address.h"
#include "mail/message.h"
#include "mail/password_source.h"
#include "mail/smtp.h"
#include "platform/registry.h"
#include "settings/mail_security_settings.h"
#include "settings/settings_store.h"

namespace ferry {

void ConfigureNotificationClient(TIdSMTP& client, const NotificationMail& mail) {
    client.SetHost(mail.server);
    client.SetPort(mail.port);
    client.SetConnectTimeout(mail.connectTimeoutMs);
    client.SetReadTimeout(mail.readTimeoutMs);
    if (mail.security == 1)
        client.UseTLS = utUseRequireTLS;
    else if (mail.security == 2)
        client.UseTLS = utUseImplicitTLS;
    client.Username = mail.user;
    client.Password = mail.password;
}

void SendNotificationMail(const NotificationMail& mail,
                          const std::function<void(const std::exception&)>& onSendFailure) {
    TIdSMTP client;
    TIdMessage message;
    ConfigureNotificationClient(client, mail);
    message.From().Address = mail.from;
    message.Recipients.SetAddressesText(mail.to);
    message.Subject = NotificationSubject;
    message.SetBodyText(mail.body);
    try {
        client.OpenSession();
        client.DeliverMessage(message);
    } catch (const std::exception& e) {
        if (onSendFailure)
            onSendFailure(e);
    }
    client.CloseSession(true);
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

void SendNotification() {
    // Nothing when the key is missing or notifications are off; its read errors continue.
    // The recipient text is parsed as soon as it is read, so that its error comes before any
    // error of reading the message text.
    // The settings are read afresh for every notification, as one reading: whether anything
    // changed since the last one is asked once.
    std::optional<RegReadingScope> reading(std::in_place);
    std::optional<TNotificationSettings> settings = ReadNotificationSettings(
        [](const std::string& to) { TIdEMailAddressList().SetAddressesText(to); });
    if (!settings)
        return;
    NotificationMail mail;
    mail.server = settings->SMTPServer;
    mail.port = settings->SMTPPort;
    mail.from = settings->SMTPFrom;
    mail.to = settings->SMTPTo;
    mail.body = settings->SMTPMessage;
    TMailSecuritySettings security = ReadMailSecuritySettings();
    reading.reset();
    mail.security = static_cast<int>(security.Security);
    mail.user = security.User;
    if (!mail.user.empty())
        mail.password = LookUpMailPassword(mail.server, mail.user);
    SendNotificationMail(mail, nullptr); // e-mail failures are dropped without a trace
}

} // namespace ferry
