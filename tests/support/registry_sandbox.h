#pragma once

// A private, empty registry for one test, and bounded child processes to act as "another
// program" on it (ferrydesk-reg, a second copy of the program, an unprivileged user).
//
//   class MyTest : public ferry::RegistrySandboxTest {};   // each test gets a fresh hive dir
//   TEST_F(MyTest, X) {
//       Sandbox.RegTool({"add", "HKLM\\SOFTWARE\\Quillmere\\Ferrydesk", "/v", "SMTPEnabled",
//                        "/t", "REG_DWORD", "/d", "2", "/f"});
//       ...
//   }
//
// The sandbox points FERRYDESK_REGISTRY_DIR at a new directory under $TMPDIR (or /tmp) for
// its lifetime, so the code under test and every child process use it; the variable's old
// value comes back and the directory is removed at the end. Close every registry handle
// before the sandbox ends and before forking.

#include "platform/registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ferry {

struct ChildResult {
    bool Exited = false; // ended by itself (else killed, or timed out and killed)
    int ExitCode = -1;
    int Signal = 0;
    bool TimedOut = false;
    std::string Output; // what the child wrote: stdout and stderr of a program, or the
                        // text a RunInChild body returned
    bool Ok() const { return Exited && ExitCode == 0; }
};

// A child process started with fork. The body's returned text goes to the parent through a
// pipe; the child exits 0 when it is empty, 1 otherwise (2 when the body threw).
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess(); // kills and reaps a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Start(const std::function<std::string()>& body);
    // Starts argv[0] with the arguments; stdin gets input (then end of file), stdout and
    // stderr go to the output.
    void StartProgram(const std::vector<std::string>& argv, const std::string& input = {});
    pid_t Pid() const { return Pid_; }
    void Kill(int signal);
    // Waits at most timeout, then kills the child with SIGKILL and reports TimedOut.
    ChildResult Wait(std::chrono::milliseconds timeout);

private:
    pid_t Pid_ = -1;
    int Out_ = -1;
};

// Runs body in a child process and waits for it, at most timeout.
ChildResult RunInChild(const std::function<std::string()>& body,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Runs a program, at most timeout.
ChildResult RunProgram(const std::vector<std::string>& argv, const std::string& input = {},
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));

// build/bin/ferrydesk-reg.
std::string RegToolPath();

// The full path of a program found on PATH, or "".
std::string FindProgram(const std::string& name);

// For a child process only: become uid/gid (default nobody, 65534) with no supplementary
// groups. Returns false (with the reason in why) when that is not possible.
bool DropPrivileges(std::string& why, uid_t uid = 65534, gid_t gid = 65534);

// Another program holding a hive busy: a child process that takes the hive file's exclusive
// lock (BEGIN EXCLUSIVE, the way any SQLite program can), so that neither reads nor writes
// of anyone else get through, and keeps it until Release() or at most `limit`.
class HiveHolder {
public:
    HiveHolder() = default;
    ~HiveHolder() { Release(); }
    HiveHolder(const HiveHolder&) = delete;
    HiveHolder& operator=(const HiveHolder&) = delete;

    // Returns once the lock is held; false (with the reason in why) when it could not be had.
    bool Hold(const std::string& hivePath, std::string& why,
              std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Lets go of the lock and waits for the holder to end.
    void Release();

private:
    ChildProcess Child_;
    int ReleaseFd_ = -1;
    bool Holding_ = false;
};

class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    const std::string& Dir() const { return Dir_; }
    std::string HivePath(HKEY root = HKEY_LOCAL_MACHINE) const;

    // Runs ferrydesk-reg on this sandbox; returns its exit code, with its output in output.
    int RegTool(const std::vector<std::string>& args, std::string* output = nullptr,
                const std::string& input = {}) const;

private:
    std::string Dir_;
    std::string OldValue_;
    bool HadOldValue_ = false;
};

class RegistrySandboxTest : public ::testing::Test {
protected:
    RegistrySandbox Sandbox;
};

} // namespace ferry
