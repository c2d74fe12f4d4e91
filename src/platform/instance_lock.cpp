#include "platform/instance_lock.h"

#include "platform/registry.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

namespace {

void MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
}

pid_t ReadPid(int fd) {
    char text[32];
    const ssize_t got = pread(fd, text, sizeof text - 1, 0);
    if (got <= 0)
        return 0;
    const std::string_view digits(text, static_cast<size_t>(got));
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    // Only a whole line counts: the holder may be between truncating and writing. A holder
    // that was killed leaves its id behind, for the next holder to replace.
    if (ec != std::errc() || end == digits.data() + digits.size() || *end != '\n' || pid <= 0)
        return 0;
    return kill(pid, 0) == 0 || errno == EPERM ? pid : 0;
}

} // namespace

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::Result InstanceLock::Take(const std::string& path) {
    Release();
    Holder_ = 0;
    Error_ = 0;
    MakeFolders(path);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // A store this user may only read can still be locked, though not labelled.
    if (fd < 0 && errno == EACCES)
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        Error_ = errno;
        return Result::Unavailable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err != EWOULDBLOCK) {
            close(fd);
            Error_ = err;
            return Result::Unavailable;
        }
        // The holder writes its id right after taking the lock: give it a moment.
        for (int i = 0; i < 50 && Holder_ == 0; ++i) {
            Holder_ = ReadPid(fd);
            if (Holder_ == 0)
                usleep(2000);
        }
        close(fd);
        return Result::HeldByOther;
    }
    const std::string line = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = pwrite(fd, line.data(), line.size(), 0);
    }
    Fd_ = fd;
    return Result::Taken;
}

void InstanceLock::Release() {
    if (Fd_ < 0)
        return;
    // The id goes first, so that nobody reads it as a live holder's afterwards.
    [[maybe_unused]] const int truncated = ftruncate(Fd_, 0);
    close(Fd_);
    Fd_ = -1;
}

std::string HeadlessLockPath() {
    return RegistryDirectory() + "/headless.lock";
}

} // namespace ferry
