#pragma once

// The notification sender: the stored (or typed) mail settings turned into one e-mail and
// handed to the SMTP client. SendNotification is what a routing pass calls after a move;
// SendNotificationMail is the Options dialog's Test, and the core of both.

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "settings/mail_settings.h"

namespace ferry {

class TIdSMTP;

// The client's defaults let a silent server hold a pass (or a window) for ever; every
// notification and test send waits at most this long to connect and for each reply.
struct MailLimits {
    int ConnectMs = 30000;
    int ReadMs = 60000;
};

// The client for `settings`: host, port, time limits, security mode, user and password.
void ConfigureMailClient(TIdSMTP& client, const TMailSettings& settings,
                         const std::string& password, const MailLimits& limits);

inline const char* const NotificationSubject = "Notification Message!";

// One notification with `settings` (SMTPEnabled is not looked at): a fresh message and client,
// OpenSession, DeliverMessage and, in every case, CloseSession(true). An error while opening or
// delivering goes to onSendFailure and no further; errors while building the message (an
// unparsable recipient text) and of the closing QUIT leave this function.
void SendNotificationMail(const TMailSettings& settings, const std::string& password,
                          const MailLimits& limits,
                          const std::function<void(const std::exception&)>& onSendFailure);

// The password the installed source holds for this user on this server, "" when there is no
// source, no password, or the store cannot be reached.
std::string LookUpMailPassword(const std::string& server, const std::string& user);

// After a move: reads the stored mail settings and, when notifications are enabled, sends one
// notification. E-mail failures go to onSendFailure (when given) and no further; a settings
// read error, an unparsable recipient text and a refused QUIT are not. `moreLines`, when not
// empty, follow the stored message text after an empty line.
void SendNotification(const std::function<void(const std::exception&)>& onSendFailure = {},
                      const std::vector<std::string>& moreLines = {});

} // namespace ferry
