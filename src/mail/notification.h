#pragma once

#include <exception>
#include <functional>
#include <string>

namespace ferry {

class TIdSMTP;

// The defaults let a silent server hold the program (and its windows) for ever; every
// notification and test send waits at most this long to connect and for each reply.
constexpr int NotificationConnectTimeoutMs = 30000;
constexpr int NotificationReadTimeoutMs = 60000;

// One notification as the sender hands it to the SMTP client, whichever entry point filled it.
struct NotificationMail {
    std::string server; // host name or dotted address
    int port = 25;
    std::string from; // the sender address, used as it stands
    std::string to;   // recipient text, split by the address-list rules
    std::string body; // line breaks in it separate body lines
    int connectTimeoutMs = NotificationConnectTimeoutMs;
    int readTimeoutMs = NotificationReadTimeoutMs;
    // 0 none (plain SMTP, as always), 1 STARTTLS required, 2 TLS from the first byte.
    int security = 0;
    std::string user;     // empty: no sign-in
    std::string password; // from the secret store, never from the hive
};

// The client's server, time limits, security mode and sign-in as the notification gives them.
void ConfigureNotificationClient(TIdSMTP& client, const NotificationMail& mail);

inline const char* const NotificationSubject = "Notification Message!";

// The sending core of both entry points: a fresh message and client, OpenSession,
// DeliverMessage and, in every case, CloseSession(true). An error while opening or delivering
// goes to onSendFailure and goes no further; errors while building the message (an unparsable
// recipient text) and of the closing QUIT leave this function.
void SendNotificationMail(const NotificationMail& mail,
                          const std::function<void(const std::exception&)>& onSendFailure);

// The password the installed source holds for this user on this server, "" when there is no
// source, no password, or the store cannot be reached.
std::string LookUpMailPassword(const std::string& server, const std::string& user);

// The routing pass's move listener: reads the stored e-mail settings and, when notifications
// are enabled, sends one notification. E-mail failures are dropped; a settings read error, an
// unparsable recipient text and a refused QUIT are not.
void SendNotification();

} // namespace ferry
