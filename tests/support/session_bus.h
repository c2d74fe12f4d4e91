#pragma once

#include <string>
#include <sys/types.h>

namespace ferry::test {

// A private D-Bus session bus for one test (dbus-daemon from Debian's dbus-daemon package),
// with none of the system's service files: a bare desktop session's bus. With a stuck
// Secret Service, it has a service file for org.freedesktop.secrets whose program never
// claims the name, so that a call that starts it waits, as on a desktop where the installed
// keyring cannot start. DBUS_SESSION_BUS_ADDRESS points at it while the object lives.
class SessionBus {
public:
    enum class Secrets { None, Stuck };
    explicit SessionBus(Secrets secrets);
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    // False (with the reason in Why) when the bus could not be started.
    bool Ok() const { return !Address_.empty(); }
    const std::string& Why() const { return Why_; }
    const std::string& Address() const { return Address_; }

private:
    std::string Dir_;
    std::string Address_;
    std::string Why_;
    std::string OldAddress_;
    bool HadAddress_ = false;
    pid_t Pid_ = -1;
};

} // namespace ferry::test
