#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

namespace ferry::test {

// A second process for tests: a fork of the test running `body`, which ends it with its
// result as the exit code (destructors of the test's objects never run in the child). Two
// pipes let the sides talk in 64-bit values; every wait is bounded. A child still running
// when the object goes is killed.
class ChildProcess {
public:
    using Body = std::function<int(ChildProcess&)>;
    explicit ChildProcess(const Body& body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return Pid_; }

    // In the child: sends a value to the parent. In the parent: sends one to the child.
    void Send(uint64_t value);
    // Receives the other side's next value; false after `timeoutMs` or when the other side
    // is gone.
    bool Receive(uint64_t& value, int timeoutMs);

    // In the parent: sends SIGKILL (or `signal`).
    void Kill(int signal = 9);
    // In the parent: waits for the end; the exit code, 128 + the signal for a killed child,
    // or -1 when it is still running after `timeoutMs` (it is then killed).
    int Wait(int timeoutMs);

private:
    pid_t Pid_ = -1;
    bool InChild_ = false;
    bool Reaped_ = false;
    int Status_ = -1;
    int ToChild_[2] = {-1, -1};
    int ToParent_[2] = {-1, -1};
};

// A second process holding a file open for reading until Release: another program that
// has the file open. Ready() tells whether it got the file open.
class ReadHolder {
public:
    explicit ReadHolder(const std::string& path);
    bool Ready() const { return Ready_; }
    // Lets go of the file; the holder's exit code (0 when all went well).
    int Release();

private:
    ChildProcess Child_;
    bool Ready_ = false;
};

// Sleeps for `ms` milliseconds (fractions allowed).
void SleepMs(double ms);

} // namespace ferry::test
