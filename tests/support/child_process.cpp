#include "support/child_process.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ferry::test {

namespace {

using Clock = std::chrono::steady_clock;

void WriteAll(int fd, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        done += static_cast<std::size_t>(put);
    }
}

void CloseAll(std::initializer_list<int*> fds) {
    for (int* fd : fds)
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
}

pid_t Fork() {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    return pid;
}

} // namespace

ChildProcess::ChildProcess(const Body& body) {
    if (pipe2(ToChild_, O_CLOEXEC) != 0 || pipe2(ToParent_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    Pid_ = Fork();
    if (Pid_ == 0) {
        InChild_ = true;
        CloseAll({&ToChild_[1], &ToParent_[0]});
        int code = 99;
        try {
            code = body(*this);
        } catch (...) {
            code = 98;
        }
        std::fflush(nullptr);
        _exit(code); // never back into the test framework
    }
    CloseAll({&ToChild_[0], &ToParent_[1]});
}

ChildProcess::~ChildProcess() {
    if (!InChild_ && !Reaped_ && Pid_ > 0) {
        kill(Pid_, SIGKILL);
        waitpid(Pid_, nullptr, 0);
    }
    CloseAll({&ToChild_[0], &ToChild_[1], &ToParent_[0], &ToParent_[1], &Out_});
}

void ChildProcess::Start(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    Pid_ = Fork();
    if (Pid_ == 0) {
        close(fds[0]);
        int code = 0;
        std::string text;
        try {
            text = body();
            code = text.empty() ? 0 : 1;
        } catch (const std::exception& e) {
            text = std::string("exception: ") + e.what();
            code = 2;
        } catch (...) {
            text = "unknown exception";
            code = 2;
        }
        WriteAll(fds[1], text.data(), text.size());
        _exit(code);
    }
    close(fds[1]);
    Out_ = fds[0];
}

void ChildProcess::StartProgram(const std::vector<std::string>& argv, const std::string& input) {
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0)
        throw std::runtime_error("pipe failed");
    Pid_ = Fork();
    if (Pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1]})
            close(fd);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    // Small inputs only (answers to prompts): they fit in the pipe's buffer.
    WriteAll(in[1], input.data(), input.size());
    close(in[1]);
    Out_ = out[0];
}

void ChildProcess::Send(uint64_t value) {
    WriteAll(InChild_ ? ToParent_[1] : ToChild_[1], reinterpret_cast<const char*>(&value),
             sizeof value);
}

bool ChildProcess::Receive(uint64_t& value, int timeoutMs) {
    const int fd = InChild_ ? ToChild_[0] : ToParent_[0];
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char* data = reinterpret_cast<char*>(&value);
    for (std::size_t done = 0; done < sizeof value;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
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

ChildResult ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (InChild_ || Pid_ <= 0 || Reaped_)
        return Result_;
    ChildResult& result = Result_;
    const auto deadline = Clock::now() + timeout;
    auto drain = [&](int waitMs) {
        if (Out_ < 0)
            return std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        pollfd p{Out_, POLLIN, 0};
        if (poll(&p, 1, waitMs) <= 0)
            return;
        char buf[4096];
        const ssize_t got = read(Out_, buf, sizeof buf);
        if (got > 0)
            result.Output.append(buf, static_cast<size_t>(got));
        else if (got == 0)
            CloseAll({&Out_});
    };
    while (!Reaped_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 && !result.TimedOut) {
            kill(Pid_, SIGKILL);
            result.TimedOut = true;
        }
        if (!result.TimedOut)
            drain(static_cast<int>(std::min<long long>(left, Out_ >= 0 ? 50 : 1)));
        int status = 0;
        if (waitpid(Pid_, &status, result.TimedOut ? 0 : WNOHANG) == Pid_) {
            Reaped_ = true;
            if (WIFEXITED(status)) {
                result.Exited = !result.TimedOut;
                result.ExitCode = WEXITSTATUS(status);
            } else if (WIFSIGNALED(status)) {
                result.Signal = WTERMSIG(status);
            }
        }
    }
    // Whatever is left in the pipe after the end.
    if (Out_ >= 0) {
        fcntl(Out_, F_SETFL, fcntl(Out_, F_GETFL) | O_NONBLOCK);
        char buf[4096];
        ssize_t got;
        while ((got = read(Out_, buf, sizeof buf)) > 0)
            result.Output.append(buf, static_cast<size_t>(got));
        CloseAll({&Out_});
    }
    return result;
}

ChildResult RunInChild(const std::function<std::string()>& body,
                       std::chrono::milliseconds timeout) {
    ChildProcess child;
    child.Start(body);
    return child.Wait(timeout);
}

ChildResult RunProgram(const std::vector<std::string>& argv, const std::string& input,
                       std::chrono::milliseconds timeout) {
    ChildProcess child;
    child.StartProgram(argv, input);
    return child.Wait(timeout);
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        const std::string full = (dir.empty() ? "." : dir) + "/" + name;
        if (access(full.c_str(), X_OK) == 0)
            return full;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

bool DropPrivileges(std::string& why, uid_t uid, gid_t gid) {
    if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
        setresuid(uid, uid, uid) != 0) {
        why = std::string("cannot drop privileges: ") + std::strerror(errno);
        return false;
    }
    if (geteuid() != uid || getegid() != gid) {
        why = "privileges were not dropped";
        return false;
    }
    return true;
}

void SleepMs(double ms) {
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(ms * 1000)));
}

bool WaitUntilInSystemCall(pid_t pid, long number, int timeoutMs) {
    const std::string inCall = std::to_string(number) + " ";
    for (int waited = 0; waited <= timeoutMs; ++waited) {
        std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
        std::string now;
        if (!std::getline(file, now) || now.rfind(inCall, 0) == 0)
            return true;
        SleepMs(1);
    }
    return false;
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
