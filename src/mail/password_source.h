#pragma once

#include <memory>
#include <optional>
#include <string>

namespace ferry {

// Where the mail password comes from. The hive never holds it; the program installs a source
// backed by the desktop's secret store, and the mail code sees only this interface.
class TMailPasswordSource {
public:
    virtual ~TMailPasswordSource() = default;
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
