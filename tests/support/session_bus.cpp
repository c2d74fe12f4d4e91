#include "support/session_bus.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ferry::test {

namespace fs = std::filesystem;

SessionBus::SessionBus(Secrets secrets) {
    char pattern[] = "/tmp/ferry-bus-XXXXXX";
    if (!mkdtemp(pattern)) {
        Why_ = "no temporary folder";
        return;
    }
    Dir_ = pattern;
    fs::create_directories(Dir_ + "/services");
    if (secrets == Secrets::Stuck) {
        // Runs for a while and never takes the name; bounded, so nothing outlives the run.
        std::ofstream(Dir_ + "/services/org.freedesktop.secrets.service")
            << "[D-BUS Service]\nName=org.freedesktop.secrets\nExec=/bin/sleep 20\n";
    }
    std::ofstream(Dir_ + "/bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type>\n"
           "<listen>unix:path="
        << Dir_ << "/socket</listen>\n<servicedir>" << Dir_
        << "/services</servicedir>\n"
           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>\n</busconfig>\n";

    int out[2];
    if (pipe(out) != 0) {
        Why_ = "no pipe";
        return;
    }
    const std::string config = "--config-file=" + Dir_ + "/bus.conf";
    const char* argv[] = {"dbus-daemon", config.c_str(), "--nofork", "--print-address=1", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int spawned = posix_spawnp(&Pid_, "dbus-daemon", &actions, nullptr,
                                     const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        Pid_ = -1;
        close(out[0]);
        Why_ = "dbus-daemon cannot be started (scripts/install-deps installs it)";
        return;
    }
    // The daemon prints its address once it listens.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    if (line.find('\n') == std::string::npos) {
        Why_ = "dbus-daemon did not report its address";
        return;
    }
    Address_ = line.substr(0, line.find('\n'));
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
    if (Pid_ > 0) {
        kill(Pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(Pid_, &status, WNOHANG) == 0; ++i)
            usleep(20000);
        if (waitpid(Pid_, &status, WNOHANG) == 0) {
            kill(Pid_, SIGKILL);
            waitpid(Pid_, &status, 0);
        }
    }
    if (!Dir_.empty()) {
        std::error_code ec;
        fs::remove_all(Dir_, ec);
    }
}

} // namespace ferry::test
