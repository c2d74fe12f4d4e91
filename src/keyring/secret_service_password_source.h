#pragma once

#include "mail/password_source.h"

namespace ferry {

// Keeps the mail password in the desktop's Secret Service (GNOME Keyring, KWallet and the
// like) through libsecret, one item per server and user name, in the default collection.
// Calls block until the service answers; a service that cannot be reached raises
// std::runtime_error with its reason.
class TSecretServicePasswordSource : public TMailPasswordSource {
public:
    std::optional<std::string> Read(const std::string& server, const std::string& user) override;
    void Store(const std::string& server, const std::string& user,
               const std::string& password) override;
    bool Remove(const std::string& server, const std::string& user) override;
};

} // namespace ferry
