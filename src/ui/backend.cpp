#include "ui/backend.h"

#include "core/routing_pass.h"
#include "mail/notification.h"

namespace ferry::backend {

TaskFolderRoutine RoutingPass() {
    return [](const std::string& source, const std::string& destination, const std::string& mask,
              const std::string& matchString) {
        ProcessTaskFolder(source, destination, mask, matchString, [] { SendNotification(); });
    };
}

TaskFolderRoutine RoutingPass(bool caseSensitive) {
    return [caseSensitive](const std::string& source, const std::string& destination,
                           const std::string& mask, const std::string& matchString) {
        ProcessTaskFolder(source, destination, mask, matchString, caseSensitive,
                          [] { SendNotification(); });
    };
}

ReportingRoutine ReportingRoutingPass(bool caseSensitive) {
    return [caseSensitive](const TaskRecord& task, const OutcomeReporter& report) {
        ProcessTaskFolder(
            task.Source, task.Destination, AllFilesMask, task.MatchString, caseSensitive,
            [] { SendNotification(); }, report);
    };
}

void SendTestMail(const std::string& server, uint16_t port, const std::string& from,
                  const std::string& to, const std::string& message,
                  const std::function<void()>& onFailure, const MailSignIn& signIn) {
    NotificationMail mail;
    mail.server = server;
    mail.port = port;
    mail.from = from;
    mail.to = to;
    mail.body = message;
    mail.security = signIn.security;
    mail.user = signIn.user;
    mail.password = signIn.password;
    SendNotificationMail(mail, [&](const std::exception&) { onFailure(); });
}

} // namespace ferry::backend
