#include "mail/notification.h"

#include <memory>

#include "mail/address.h"
#include "mail/message.h"
#include "mail/smtp.h"
#include "settings/settings_store.h"

namespace ferry {

void SendNotificationMail(const NotificationMail& mail,
                          const std::function<void(const std::exception&)>& onSendFailure) {
    TIdSMTP client;
    TIdMessage message;
    client.SetHost(mail.server);
    client.SetPort(mail.port);
    client.SetConnectTimeout(mail.connectTimeoutMs);
    client.SetReadTimeout(mail.readTimeoutMs);
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

void SendNotification() {
    // Nothing when the key is missing or notifications are off; its read errors continue.
    // The recipient text is parsed as soon as it is read, so that its error comes before any
    // error of reading the message text.
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
    SendNotificationMail(mail, nullptr); // e-mail failures are dropped without a trace
}

} // namespace ferry
