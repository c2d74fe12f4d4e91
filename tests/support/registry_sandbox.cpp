#include "support/registry_sandbox.h"

#include <sqlite3.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ferry {

namespace {

void WriteAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

} // namespace

ChildProcess::~ChildProcess() {
    if (Pid_ > 0) {
        kill(Pid_, SIGKILL);
        waitpid(Pid_, nullptr, 0);
    }
    if (Out_ >= 0)
        close(Out_);
}

void ChildProcess::Start(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    fflush(nullptr);
    Pid_ = fork();
    if (Pid_ < 0)
        throw std::runtime_error("fork failed");
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
        WriteAll(fds[1], text);
        _exit(code); // never back into the test framework
    }
    close(fds[1]);
    Out_ = fds[0];
}

void ChildProcess::StartProgram(const std::vector<std::string>& argv, const std::string& input) {
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0)
        throw std::runtime_error("pipe failed");
    fflush(nullptr);
    Pid_ = fork();
    if (Pid_ < 0)
        throw std::runtime_error("fork failed");
    if (Pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    // Small inputs only (answers to prompts): fits in the pipe buffer.
    WriteAll(in[1], input);
    close(in[1]);
    Out_ = out[0];
}

void ChildProcess::Kill(int signal) {
    if (Pid_ > 0)
        kill(Pid_, signal);
}

ChildResult ChildProcess::Wait(std::chrono::milliseconds timeout) {
    ChildResult result;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    bool open = Out_ >= 0;
    while (Pid_ > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            kill(Pid_, SIGKILL);
            result.TimedOut = true;
        }
        if (open && left > 0) {
            pollfd p{Out_, POLLIN, 0};
            int n = poll(&p, 1, static_cast<int>(std::min<long long>(left, 50)));
            if (n > 0) {
                char buf[4096];
                ssize_t got = read(Out_, buf, sizeof buf);
                if (got > 0)
                    result.Output.append(buf, static_cast<size_t>(got));
                else if (got == 0)
                    open = false;
            }
        } else if (left > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        int status = 0;
        pid_t w = waitpid(Pid_, &status, result.TimedOut ? 0 : WNOHANG);
        if (w == Pid_) {
            Pid_ = -1;
            if (WIFEXITED(status)) {
                result.Exited = !result.TimedOut;
                result.ExitCode = WEXITSTATUS(status);
            } else if (WIFSIGNALED(status)) {
                result.Signal = WTERMSIG(status);
            }
        }
    }
    // Whatever is left in the pipe after the exit.
    if (Out_ >= 0) {
        int flags = fcntl(Out_, F_GETFL);
        fcntl(Out_, F_SETFL, flags | O_NONBLOCK);
        char buf[4096];
        ssize_t got;
        while ((got = read(Out_, buf, sizeof buf)) > 0)
            result.Output.append(buf, static_cast<size_t>(got));
        close(Out_);
        Out_ = -1;
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

std::string RegToolPath() {
    return std::string(FERRY_BINARY_DIR) + "/bin/ferrydesk-reg";
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        std::string full = (dir.empty() ? "." : dir) + "/" + name;
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

RegistrySandbox::RegistrySandbox() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ferry-registry-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed for " + pattern);
    Dir_ = buf.data();
    if (const char* old = std::getenv("FERRYDESK_REGISTRY_DIR")) {
        HadOldValue_ = true;
        OldValue_ = old;
    }
    setenv("FERRYDESK_REGISTRY_DIR", Dir_.c_str(), 1);
}

RegistrySandbox::~RegistrySandbox() {
    if (HadOldValue_)
        setenv("FERRYDESK_REGISTRY_DIR", OldValue_.c_str(), 1);
    else
        unsetenv("FERRYDESK_REGISTRY_DIR");
    std::error_code ec;
    // Tests take write permission away; give it back so the directory can go.
    chmod(Dir_.c_str(), 0700);
    std::filesystem::remove_all(Dir_, ec);
}

std::string RegistrySandbox::HivePath(HKEY root) const {
    return Dir_ + "/" + RegRootName(root) + ".hive";
}

int RegistrySandbox::RegTool(const std::vector<std::string>& args, std::string* output,
                             const std::string& input) const {
    std::vector<std::string> argv{RegToolPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildResult r = RunProgram(argv, input, std::chrono::seconds(30));
    if (output)
        *output = r.Output;
    return r.Exited ? r.ExitCode : -1;
}

bool HiveHolder::Hold(const std::string& hivePath, std::string& why,
                      std::chrono::milliseconds limit) {
    Release();
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) {
        why = "pipe failed";
        return false;
    }
    const int limitMs = static_cast<int>(limit.count());
    Child_.Start([&, limitMs] {
        close(ready[0]);
        close(release[1]);
        sqlite3* db = nullptr;
        std::string error;
        if (sqlite3_open_v2(hivePath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            error = "open failed";
        else {
            sqlite3_busy_timeout(db, 10000);
            if (sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
                error = std::string("BEGIN EXCLUSIVE failed: ") + sqlite3_errmsg(db);
        }
        char answer = error.empty() ? 'y' : 'n';
        WriteAll(ready[1], std::string(1, answer));
        if (error.empty()) {
            pollfd p{release[0], POLLIN, 0};
            poll(&p, 1, limitMs);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        sqlite3_close(db);
        return error;
    });
    close(ready[1]);
    close(release[0]);
    ReleaseFd_ = release[1];
    char answer = 0;
    pollfd p{ready[0], POLLIN, 0};
    if (poll(&p, 1, 20000) == 1 && read(ready[0], &answer, 1) == 1 && answer == 'y')
        Holding_ = true;
    close(ready[0]);
    if (!Holding_) {
        Release();
        why = "the holder could not take the hive";
        return false;
    }
    return true;
}

void HiveHolder::Release() {
    if (ReleaseFd_ >= 0) {
        WriteAll(ReleaseFd_, "x");
        close(ReleaseFd_);
        ReleaseFd_ = -1;
    }
    if (Child_.Pid() > 0)
        Child_.Wait(std::chrono::seconds(20));
    Holding_ = false;
}

} // namespace ferry
