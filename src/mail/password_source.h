#pragma once

// Where the mail code gets the password from, without knowing the desktop's store.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace ferry {

// There is no password store to ask: none runs on the desktop's session bus and none could
// be started there (or the session has no bus). The text says what is missing and what to
// install.
class EPasswordStoreMissing : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where the mail password comes from. The hive never holds it; the program installs a source
// backed by the desktop's secret store, and the mail code sees only this interface.
class TMailPasswordSource {
public:
    virtual ~TMailPasswordSource() = default;
    // Raises EPasswordStoreMissing when there is no store to ask, and std::runtime_error when
    // the store cannot be used otherwise; the calls below check this first.
    virtual void CheckReachable() {}
    // The password stored for this user on this server; nothing when none is stored.
    // Raises std::runtime_error when the store itself cannot be reached.
    virtual std::optional<std::string> Read(const std::string& server, const std::string& user) = 0;
    virtual void Store(const std::string& server, const std::string& user,
                       const std::string& password) = 0;
    // Whether one was removed.
    virtual bool Remove(const std::string& server, const std::string& user) = 0;
};

// The process-wide source the notifications use; none until the program sets one.
void SetMailPasswordSource(std::shared_ptr<TMailPasswordSource> source);
std::shared_ptr<TMailPasswordSource> MailPasswordSource();

} // namespace ferry
