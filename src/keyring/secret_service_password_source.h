#pragma once

// The mail password in the desktop's Secret Service, through libsecret.

#include <chrono>
#include <mutex>

#include "mail/password_source.h"

namespace ferry {

// Keeps the mail password in the desktop's Secret Service (GNOME Keyring, KWallet and the
// like) through libsecret, one item per server and user name, in the default collection.
// Each call first asks the session bus, within a few seconds, whether the service runs or
// can be started, and raises EPasswordStoreMissing when not (and for the next 30 seconds
// without asking again); then it blocks until the service answers, which may wait for the
// user to unlock the keyring. Other failures raise std::runtime_error with their reason.
class TSecretServicePasswordSource : public TMailPasswordSource {
public:
    void CheckReachable() override;
    std::optional<std::string> Read(const std::string& server, const std::string& user) override;
    void Store(const std::string& server, const std::string& user,
               const std::string& password) override;
    bool Remove(const std::string& server, const std::string& user) override;

private:
    std::mutex Lock_;
    std::string Missing_; // why there was no store at the last look; empty when there was
    std::chrono::steady_clock::time_point MissingSince_;
};

} // namespace ferry
