// Sends COUNT notifications in a row to an SMTP server on 127.0.0.1, each its own session
// as the program's are, and prints the seconds the sending loop took.
// Usage: smtp_notify_bench PORT COUNT FROM TO BODY
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "mail/notification.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s PORT COUNT FROM TO BODY\n", argv[0]);
        return 2;
    }
    ferry::NotificationMail mail;
    mail.server = "127.0.0.1";
    mail.port = std::atoi(argv[1]);
    int count = std::atoi(argv[2]);
    mail.from = argv[3];
    mail.to = argv[4];
    mail.body = argv[5];
    // CONNECT_TIMEOUT_MS overrides the notification's connect limit, to compare figures.
    if (const char* limit = std::getenv("CONNECT_TIMEOUT_MS"))
        mail.connectTimeoutMs = std::atoi(limit);

    int failures = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        try {
            ferry::SendNotificationMail(mail, [&](const std::exception& e) {
                if (failures++ == 0)
                    std::fprintf(stderr, "send failed: %s\n", e.what());
            });
        } catch (const std::exception& e) {
            std::fprintf(stderr, "close failed: %s\n", e.what());
            return 1;
        }
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (failures > 0) {
        std::fprintf(stderr, "%d of %d notifications failed\n", failures, count);
        return 1;
    }
    std::printf("%.6f\n", took.count());
    return 0;
}
