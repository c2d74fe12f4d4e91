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
#include "support/child_process.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ferry {

using test::ChildProcess;
using test::ChildResult;
using test::DropPrivileges;
using test::FindProgram;
using test::RunInChild;
using test::RunProgram;

// build/bin/ferrydesk-reg.
std::string RegToolPath();

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
    std::optional<test::ScopedEnv> Registry_;
};

class RegistrySandboxTest : public ::testing::Test {
protected:
    RegistrySandbox Sandbox;
};

} // namespace ferry
