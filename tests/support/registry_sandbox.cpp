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

std::string RegToolPath() {
    return std::string(FERRY_BINARY_DIR) + "/bin/ferrydesk-reg";
}

RegistrySandbox::RegistrySandbox() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ferry-registry-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed for " + pattern);
    Dir_ = buf.data();
    Registry_.emplace("FERRYDESK_REGISTRY_DIR", Dir_);
}

RegistrySandbox::~RegistrySandbox() {
    Registry_.reset();
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
