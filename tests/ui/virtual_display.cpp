#include "virtual_display.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ferry::test {

namespace {

using Clock = std::chrono::steady_clock;

// Reads what a child writes until it closes the pipe or the limit passes.
std::string ReadUntil(int fd, Clock::time_point deadline, bool stopAtNewline) {
    std::string text;
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (::poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        if (stopAtNewline && text.find('\n') != std::string::npos)
            break;
    }
    return text;
}

bool WaitChild(pid_t pid, Clock::time_point deadline, int& status) {
    while (Clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

VirtualDisplay::VirtualDisplay() {
    int pipe[2];
    if (::pipe(pipe) != 0) {
        Why_ = "pipe failed";
        return;
    }
    Pid_ = ::fork();
    if (Pid_ == 0) {
        ::close(pipe[0]);
        const std::string fd = std::to_string(pipe[1]);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", "-dpi", "96", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipe[1]);
    if (Pid_ < 0) {
        ::close(pipe[0]);
        Why_ = "fork failed";
        return;
    }
    const std::string number = ReadUntil(pipe[0], Clock::now() + std::chrono::seconds(15), true);
    ::close(pipe[0]);
    if (number.empty() || number.find('\n') == std::string::npos) {
        Why_ = "Xvfb did not start (is it installed?)";
        return;
    }
    Name_ = ":" + number.substr(0, number.find('\n'));
}

VirtualDisplay::~VirtualDisplay() {
    if (Pid_ <= 0)
        return;
    ::kill(Pid_, SIGTERM);
    int status = 0;
    if (!WaitChild(Pid_, Clock::now() + std::chrono::seconds(5), status)) {
        ::kill(Pid_, SIGKILL);
        ::waitpid(Pid_, &status, 0);
    }
}

std::string RunOnDisplay(const std::string& display, const std::vector<std::string>& argv,
                         int& code, std::chrono::milliseconds limit) {
    code = -1;
    int pipe[2];
    if (::pipe(pipe) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe[0]);
        ::dup2(pipe[1], 1);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 2);
        ::setenv("DISPLAY", display.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    const auto deadline = Clock::now() + limit;
    std::string out = ReadUntil(pipe[0], deadline, false);
    ::close(pipe[0]);
    int status = 0;
    if (!WaitChild(pid, deadline, status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return out;
    }
    code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

} // namespace ferry::test
