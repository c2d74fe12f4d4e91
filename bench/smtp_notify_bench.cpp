// Sends COUNT notifications in a row to an SMTP server on 127.0.0.1, each its own session
// as the program's are, and prints the seconds the sending loop took.
//
// Usage: smtp_notify_bench MODE PORT COUNT FROM TO BODY
//   MODE listener: SendNotification, the routing pass's move listener, reading the settings
//                  from a registry hive of its own (a fresh folder under $TMPDIR) each time;
//   MODE core:     the sending core alone, with the values given.
// CONNECT_TIMEOUT_MS in the environment overrides the connect limit of the core mode.
// For the core mode, SERVER overrides the host (127.0.0.1), SECURITY sets the mode (1 STARTTLS,
// 2 TLS) and SMTP_USER and SMTP_PASSWORD the sign-in.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "mail/notification.h"
#include "settings/settings_store.h"

namespace {

// A private hive with notifications enabled, so that the listener reads real settings.
std::string PrepareSettings(const ferry::TMailSettings& mail) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/ferry-smtp-bench-XXXXXX";
    if (!::mkdtemp(dir.data()))
        return {};
    ::setenv("FERRYDESK_REGISTRY_DIR", dir.c_str(), 1);
    ferry::InitialiseDefaults();
    ferry::TOptionsSettings options;
    options.Mail = mail;
    options.Mail.SMTPEnabled = true;
    ferry::WriteOptionsSettings(options, std::to_string(mail.SMTPPort), false);
    return dir;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s listener|core PORT COUNT FROM TO BODY\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    ferry::TMailSettings mail;
    ferry::MailLimits limits;
    std::string password;
    mail.SMTPServer = "127.0.0.1";
    mail.SMTPPort = std::atoi(argv[2]);
    int count = std::atoi(argv[3]);
    mail.SMTPFrom = argv[4];
    mail.SMTPTo = argv[5];
    mail.SMTPMessage = argv[6];
    if (const char* limit = std::getenv("CONNECT_TIMEOUT_MS"))
        limits.ConnectMs = std::atoi(limit);
    if (const char* server = std::getenv("SERVER"))
        mail.SMTPServer = server;
    if (const char* security = std::getenv("SECURITY"))
        mail.SMTPSecurity = static_cast<ferry::TMailSecurity>(std::atoi(security));
    if (const char* user = std::getenv("SMTP_USER"))
        mail.SMTPUser = user;
    if (const char* given = std::getenv("SMTP_PASSWORD"))
        password = given;

    std::string hive;
    if (mode == "listener" && (hive = PrepareSettings(mail)).empty()) {
        std::fprintf(stderr, "cannot make a registry folder\n");
        return 1;
    }

    int failures = 0;
    auto start = std::chrono::steady_clock::now();
    try {
        for (int i = 0; i < count; ++i) {
            if (mode == "listener") {
                ferry::SendNotification(); // drops e-mail failures; the script counts messages
            } else {
                ferry::SendNotificationMail(mail, password, limits, [&](const std::exception& e) {
                    if (failures++ == 0)
                        std::fprintf(stderr, "send failed: %s\n", e.what());
                });
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "notification failed: %s\n", e.what());
        return 1;
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!hive.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(hive, ec);
    }
    if (failures > 0) {
        std::fprintf(stderr, "%d of %d notifications failed\n", failures, count);
        return 1;
    }
    std::printf("%.6f\n", took.count());
    return 0;
}
