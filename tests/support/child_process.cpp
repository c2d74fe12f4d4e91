#include "support/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ferry::test {

ChildProcess::ChildProcess(const Body& body) {
    if (pipe2(ToChild_, O_CLOEXEC) != 0 || pipe2(ToParent_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    Pid_ = fork();
    if (Pid_ < 0)
        throw std::runtime_error("fork failed");
    if (Pid_ == 0) {
        InChild_ = true;
        close(ToChild_[1]);
        close(ToParent_[0]);
        int code = 99;
        try {
            code = body(*this);
        } catch (...) {
            code = 98;
        }
        std::fflush(nullptr);
        _exit(code);
    }
    close(ToChild_[0]);
    close(ToParent_[1]);
    ToChild_[0] = ToParent_[1] = -1;
}

ChildProcess::~ChildProcess() {
    if (!InChild_ && !Reaped_ && Pid_ > 0) {
        kill(Pid_, SIGKILL);
        waitpid(Pid_, nullptr, 0);
    }
    for (int fd : {ToChild_[0], ToChild_[1], ToParent_[0], ToParent_[1]})
        if (fd >= 0)
            close(fd);
}

void ChildProcess::Send(uint64_t value) {
    const int fd = InChild_ ? ToParent_[1] : ToChild_[1];
    const char* data = reinterpret_cast<const char*>(&value);
    for (std::size_t done = 0; done < sizeof value;) {
        const ssize_t put = write(fd, data + done, sizeof value - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        done += static_cast<std::size_t>(put);
    }
}

bool ChildProcess::Receive(uint64_t& value, int timeoutMs) {
    const int fd = InChild_ ? ToChild_[0] : ToParent_[0];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char* data = reinterpret_cast<char*>(&value);
    for (std::size_t done = 0; done < sizeof value;) {
        const auto left = (std::chrono::duration_cast<std::chrono::microseconds>(
                               deadline - std::chrono::steady_clock::now())
                               .count() +
                           999) /
                          1000;
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t got = read(fd, data + done, sizeof value - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void ChildProcess::Kill(int signal) {
    if (!InChild_ && !Reaped_ && Pid_ > 0)
        kill(Pid_, signal);
}

int ChildProcess::Wait(int timeoutMs) {
    if (InChild_)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Reaped_) {
        int status = 0;
        const pid_t done = waitpid(Pid_, &status, WNOHANG);
        if (done == Pid_) {
            Reaped_ = true;
            Status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(Pid_, SIGKILL);
            waitpid(Pid_, nullptr, 0);
            Reaped_ = true;
            Status_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Status_;
}

void SleepMs(double ms) {
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(ms * 1000)));
}

ReadHolder::ReadHolder(const std::string& path)
    : Child_([path](ChildProcess& self) {
          const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
          if (fd < 0)
              return 1;
          self.Send(1);
          uint64_t stop = 0;
          self.Receive(stop, 20000);
          close(fd);
          return 0;
      }) {
    uint64_t ready = 0;
    Ready_ = Child_.Receive(ready, 10000);
}

int ReadHolder::Release() {
    Child_.Send(1);
    return Child_.Wait(10000);
}

} // namespace ferry::test
