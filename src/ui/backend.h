#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "activity/pass_history.h"
#include "core/scheduler.h"

// The windows' calls into the routing pass and the mail sender, kept apart so the handlers
// read as the steps they take.
namespace ferry::backend {

// The routing pass for one task, reporting every move to the notification sender.
TaskFolderRoutine RoutingPass();
// The same with the case rule handed over at the start of the pass.
TaskFolderRoutine RoutingPass(bool caseSensitive);
// The same, also reporting how each file ended, for the activity history.
ReportingRoutine ReportingRoutingPass(bool caseSensitive);

// One notification with the given values. `onFailure` runs when connecting or delivering
// fails; errors outside those steps (an unreadable recipient list, a failed QUIT) are raised.
// signIn carries the security mode, user and password; the default is plain SMTP.
struct MailSignIn {
    int security = 0;
    std::string user;
    std::string password;
};
void SendTestMail(const std::string& server, uint16_t port, const std::string& from,
                  const std::string& to, const std::string& message,
                  const std::function<void()>& onFailure, const MailSignIn& signIn = {});

} // namespace ferry::backend
