#pragma once

// Second processes for tests, every wait bounded: a fork running part of the test (another
// program holding a file, a second copy of the program), or a real program with its output.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ferry::test {

struct ChildResult {
    bool Exited = false; // ended by itself (else killed, or timed out and killed)
    int ExitCode = -1;
    int Signal = 0;
    bool TimedOut = false;
    std::string Output; // what the child wrote: stdout and stderr of a program, or the text a
                        // Start body returned
    bool Ok() const { return Exited && ExitCode == 0; }
    // The exit code, 128 + the signal for a killed child, -1 for one that timed out.
    int Status() const { return TimedOut ? -1 : Exited ? ExitCode : 128 + Signal; }
};

// A child still running when the object goes is killed and reaped.
class ChildProcess {
public:
    using Body = std::function<int(ChildProcess&)>;

    ChildProcess() = default;
    // A fork of the test running `body`, which ends it with its result as the exit code (the
    // test's objects are never destroyed in the child). Two pipes let the sides talk in
    // 64-bit values.
    explicit ChildProcess(const Body& body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // A fork whose body returns text for the parent's Output: the child exits 0 when it is
    // empty, 1 otherwise, 2 when the body threw.
    void Start(const std::function<std::string()>& body);
    // Runs argv[0] with the arguments; stdin gets `input` (then end of file), stdout and
    // stderr go to Output.
    void StartProgram(const std::vector<std::string>& argv, const std::string& input = {});

    pid_t Pid() const { return Pid_; }

    // In a Body child: sends a value to the parent. In the parent: sends one to the child.
    void Send(uint64_t value);
    // Receives the other side's next value; false after `timeoutMs` or when it is gone.
    bool Receive(uint64_t& value, int timeoutMs);

    // In the parent.
    void Kill(int signal = SIGKILL);
    // Waits at most `timeout` for the end (then kills the child), collecting its output.
    ChildResult Wait(std::chrono::milliseconds timeout);
    // The same, for the status alone (ChildResult::Status).
    int Wait(int timeoutMs) { return Wait(std::chrono::milliseconds(timeoutMs)).Status(); }

private:
    pid_t Pid_ = -1;
    bool InChild_ = false;
    ChildResult Result_; // once reaped
    bool Reaped_ = false;
    int Out_ = -1;
    int ToChild_[2] = {-1, -1};
    int ToParent_[2] = {-1, -1};
};

// Runs body in a child process and waits for it, at most timeout.
ChildResult RunInChild(const std::function<std::string()>& body,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Runs a program, at most timeout.
ChildResult RunProgram(const std::vector<std::string>& argv, const std::string& input = {},
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));

// The full path of a program found on PATH, or "".
std::string FindProgram(const std::string& name);

// For a child process only: become uid/gid (default nobody, 65534) with no supplementary
// groups. Returns false (with the reason in why) when that is not possible.
bool DropPrivileges(std::string& why, uid_t uid = 65534, gid_t gid = 65534);

// A second process holding a file open for reading until Release: another program that
// has the file open. Ready() tells whether it got the file open.
class ReadHolder {
public:
    explicit ReadHolder(const std::string& path);
    bool Ready() const { return Ready_; }
    // Lets go of the file; the holder's exit status (0 when all went well).
    int Release();

private:
    ChildProcess Child_;
    bool Ready_ = false;
};

// Sleeps for `ms` milliseconds (fractions allowed).
void SleepMs(double ms);

// Waits at most `timeoutMs` until process `pid` sleeps inside system call `number` (an open
// held up by a lease, say) or has ended. False on the timeout.
bool WaitUntilInSystemCall(pid_t pid, long number, int timeoutMs);

} // namespace ferry::test
