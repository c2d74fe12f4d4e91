#pragma once

// Check connection: a trial of the mail settings that sends nothing.

#include <string>

#include "mail/notification.h"

namespace ferry {

// What a trial connection with the mail settings found, in plain words, one fact per line.
struct TMailConnectionReport {
    bool ok = false;  // connected, encrypted as asked, and signed in when a user is set
    std::string text; // for the user: host and port, TLS version and cipher, certificate, sign-in
};

// Connects as a notification with `settings` and `password` would, runs the greeting, the
// encryption and the sign-in, and says goodbye; no mail is sent. Never raises.
TMailConnectionReport CheckMailConnection(const TMailSettings& settings,
                                          const std::string& password, const MailLimits& limits);

} // namespace ferry
