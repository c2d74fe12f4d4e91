#include "support/session_bus.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ferry::test {

SessionBus::SessionBus(Secrets secrets) {
    char pattern[] = "/tmp/ferry-bus-XXXXXX";
    if (!mkdtemp(pattern)) {
        Why_ = "no temporary folder";
        return;
    }
    Dir_ = pattern;
    std::filesystem::create_directory(Dir_ + "/services");
    if (secrets == Secrets::Stuck) // runs a while, never takes the name
        std::ofstream(Dir_ + "/services/org.freedesktop.secrets.service")
            << "[D-BUS Service]\nName=org.freedesktop.secrets\nExec=/bin/sleep 20\n";
    std::ofstream(Dir_ + "/bus.conf")
        << "<busconfig><type>session</type><listen>unix:path=" << Dir_
        << "/socket</listen><servicedir>" << Dir_
        << "/services</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
           "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
           "</busconfig>\n";
    // The daemon prints its address and process id once it listens, then runs on its own.
    const std::string command = "timeout 10 dbus-daemon --fork --config-file=" + Dir_ +
                                "/bus.conf --print-address=1 --print-pid=1 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    char address[512] = "", pid[32] = "";
    if (!out || !std::fgets(address, sizeof address, out) || !std::fgets(pid, sizeof pid, out)) {
        if (out)
            pclose(out);
        Why_ = "dbus-daemon did not start (scripts/install-deps installs it)";
        return;
    }
    pclose(out);
    Address_ = std::string(address).substr(0, std::string(address).find('\n'));
    Pid_ = static_cast<pid_t>(std::atoi(pid));
    if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        HadAddress_ = true;
        OldAddress_ = old;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", Address_.c_str(), 1);
}

SessionBus::~SessionBus() {
    if (!Address_.empty()) {
        if (HadAddress_)
            setenv("DBUS_SESSION_BUS_ADDRESS", OldAddress_.c_str(), 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    if (Pid_ > 0)
        kill(Pid_, SIGTERM);
    std::error_code ec;
    if (!Dir_.empty())
        std::filesystem::remove_all(Dir_, ec);
}

} // namespace ferry::test
