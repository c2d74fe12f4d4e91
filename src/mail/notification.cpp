#include "mail/notification.h"

#include "mail/message.h"
#include "mail/smtp.h"

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

} // namespace ferry
