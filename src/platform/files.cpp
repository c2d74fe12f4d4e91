#include "platform/files.h"

#include "base/exception.h"
#include "platform/system_errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ferry {

std::string IncludeTrailingSeparator(const std::string& path) {
    if (path.empty() || path.back() == PathSeparator)
        return path;
    return path + PathSeparator;
}

namespace {

char FoldAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
}

// Iterative wildcard match with one back-tracking point: linear in practice, never
// exponential whatever the mask.
bool WildcardMatch(const std::string& name, const std::string& mask) {
    std::size_t n = 0, m = 0, starMask = std::string::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || FoldAscii(mask[m]) == FoldAscii(name[n]))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

std::atomic<bool> LeaseDisabled{false};

// How long a read waits for a move under way in another copy of this program before it
// takes the file from the mover.
constexpr auto LeaseWait = std::chrono::milliseconds(1500);

// A file under another process's lease (a copy of this program moving it) is still read, as
// reads share with everyone; the first try has already told the mover to give the file up.
// The read then waits by the file's name: a move in its last step when told is finished, the
// name is gone, and the read finds the file moved. Holding the file itself meanwhile would
// make that mover undo its move, and two copies routing one folder would keep undoing each
// other's. After the wait a blocking open takes the file, first by its path alone, so that
// only a regular file is ever waited for.
int OpenPastLease(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + LeaseWait;
    auto pause = std::chrono::microseconds(500);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(20));
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0 || errno != EWOULDBLOCK)
            return fd;
    }
    const int handle = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (handle < 0)
        return -1;
    struct stat st;
    int fd = -1;
    if (fstat(handle, &st) != 0) {
        // errno tells
    } else if (!S_ISREG(st.st_mode)) {
        errno = EACCES;
    } else {
        const std::string self = "/proc/self/fd/" + std::to_string(handle);
        fd = open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    }
    const int err = errno;
    close(handle);
    errno = err;
    return fd;
}

} // namespace

void SetLeaseDisabledForTesting(bool disabled) {
    LeaseDisabled = disabled;
}

namespace {

// A broken lease is announced by a signal to its taker, SIGIO unless told otherwise, and
// SIGIO would end the program. We learn of a break by asking, so the program ignores SIGIO,
// once, unless someone handles it; then each descriptor is told to stay quiet instead, which
// costs two more system calls per lease.
bool BreaksIgnored() {
    static const bool ignored = [] {
        struct sigaction now {};
        if (sigaction(SIGIO, nullptr, &now) != 0)
            return false;
        if (!(now.sa_flags & SA_SIGINFO) && now.sa_handler == SIG_IGN)
            return true;
        if ((now.sa_flags & SA_SIGINFO) || now.sa_handler != SIG_DFL)
            return false;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        return sigaction(SIGIO, &ignore, nullptr) == 0;
    }();
    return ignored;
}

} // namespace

int TakeWriteLease(int fd) {
    if (LeaseDisabled)
        return EPERM;
    if (BreaksIgnored())
        return fcntl(fd, F_SETLEASE, F_WRLCK) == 0 ? 0 : errno;
    // An ignored signal covers the instant before the owner is cleared.
    fcntl(fd, F_SETSIG, SIGURG);
    if (fcntl(fd, F_SETLEASE, F_WRLCK) != 0)
        return errno;
    fcntl(fd, F_SETOWN, 0);
    return 0;
}

bool MatchesFileMask(const std::string& name, const std::string& mask) {
    if (WildcardMatch(name, mask))
        return true;
    // Windows lets a mask ending in ".*" match a name without any dot ("*.*", "read*.*").
    if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos)
        return WildcardMatch(name, mask.substr(0, mask.size() - 2));
    return false;
}

bool ListFiles(const std::string& folder, const std::string& mask,
               std::vector<std::string>& names) {
    std::vector<bool> plain;
    return ListFiles(folder, mask, names, plain);
}

bool ListFiles(const std::string& folder, const std::string& mask, std::vector<std::string>& names,
               std::vector<bool>& plain) {
    names.clear();
    plain.clear();
    if (folder.empty())
        return false;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    const int dirFd = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            regular = fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular && MatchesFileMask(name, mask)) {
            names.push_back(name);
            plain.push_back(entry->d_type == DT_REG);
        }
    }
    closedir(dir);
    return true;
}

bool FolderExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int OpenErrorCode(const std::string& path, int err) {
    if (err == ENOENT) {
        const auto slash = path.find_last_of(PathSeparator);
        if (slash != std::string::npos && slash > 0 && !FolderExists(path.substr(0, slash)))
            return ERROR_PATH_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    }
    return SystemErrorFromErrno(err);
}

ReadOnlyFile::ReadOnlyFile(const std::string& path, Purpose purpose) {
    // O_NONBLOCK keeps a FIFO that slipped in after the listing from blocking the open; on
    // a regular file it changes nothing, so it stays set.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == EWOULDBLOCK)
        fd = OpenPastLease(path);
    if (fd < 0)
        throw EInOutError(OpenErrorCode(path, errno));
    if (fstat(fd, &Stat_) != 0) {
        const int err = errno;
        close(fd);
        throw EInOutError(SystemErrorFromErrno(err));
    }
    Stated_ = true;
    if (!S_ISREG(Stat_.st_mode)) {
        close(fd);
        throw EInOutError(ERROR_ACCESS_DENIED);
    }
    if (purpose == Purpose::ForMove) {
        const int err = TakeWriteLease(fd);
        Lease_ = err == 0                        ? Lease::Held
                 : err == EAGAIN || err == EBUSY ? Lease::Refused
                                                 : Lease::None;
        // A writer that had the file open may have written and closed it between the look
        // above and the lease; under the lease the file holds still, so this look is final.
        if (Lease_ == Lease::Held && fstat(fd, &Stat_) != 0) {
            const int statErr = errno;
            close(fd);
            throw EInOutError(SystemErrorFromErrno(statErr));
        }
    }
    // A holder that denies sharing keeps an exclusive lock; our shared one, released by
    // the close, keeps readers and writers in while telling a later exclusive taker that
    // the file is in use, as an open handle that shares reading and writing would. Under
    // our lease there is no other holder, and none can open the file before we let it in.
    if (Lease_ != Lease::Held && flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        throw EInOutError(ERROR_SHARING_VIOLATION);
    }
    Size_ = static_cast<int64_t>(Stat_.st_size);
    Fd_ = fd;
}

namespace {

// A folder's files mostly share an owner and a file system. After a lease refused for either
// (not our file, no leases there), a thread sizes and locks its next files at once rather than
// paying for the refusal each time, then asks again.
constexpr unsigned LeaseRetryAfter = 64;
thread_local unsigned LeaseSkips = 0;

} // namespace

ReadOnlyFile::ReadOnlyFile(const std::string& path, void* block, std::size_t count) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == EWOULDBLOCK)
        fd = OpenPastLease(path);
    if (fd < 0)
        throw EInOutError(OpenErrorCode(path, errno));
    Fd_ = fd;
    try {
        ReadFirstBlock(block, count);
    } catch (...) {
        close(fd);
        Fd_ = -1;
        throw;
    }
}

void ReadOnlyFile::ReadFirstBlock(void* block, std::size_t count) {
    // Where SIGIO is handled a lease costs three calls, more than the two it saves.
    const bool ask = LeaseSkips == 0 && BreaksIgnored();
    if (LeaseSkips > 0)
        --LeaseSkips;
    const int err = ask ? TakeWriteLease(Fd_) : EPERM;
    if (err == 0) {
        Lease_ = Lease::Held;
        // One read: under the lease no one else can write the file, so a regular file's read
        // falls short only at its end, or where a device fault stops it after some bytes, which
        // is always at a page boundary: only there does the size have to tell, and the rest is
        // read so that the fault is raised.
        ssize_t got;
        do
            got = pread(Fd_, block, count, 0);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            throw EInOutError(SystemErrorFromErrno(errno));
        FirstBlock_ = static_cast<std::size_t>(got);
        Position_ = got;
        Size_ = got;
        static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        if (FirstBlock_ < count && (FirstBlock_ == 0 || FirstBlock_ % page != 0))
            return;
        if (fstat(Fd_, &Stat_) != 0)
            throw EInOutError(SystemErrorFromErrno(errno));
        Stated_ = true;
        Size_ = static_cast<int64_t>(Stat_.st_size);
        if (FirstBlock_ < count && Size_ > got)
            FirstBlock_ += Read(static_cast<char*>(block) + FirstBlock_,
                                static_cast<std::size_t>(std::min<int64_t>(count, Size_) - got));
        if (FirstBlock_ < count)
            return;
        // The shared lock first, so that whoever waits on the lease finds the file in use.
        flock(Fd_, LOCK_SH | LOCK_NB);
        fcntl(Fd_, F_SETLEASE, F_UNLCK);
        Lease_ = Lease::None;
        return;
    }
    if (fstat(Fd_, &Stat_) != 0)
        throw EInOutError(SystemErrorFromErrno(errno));
    Stated_ = true;
    if (!S_ISREG(Stat_.st_mode))
        throw EInOutError(ERROR_ACCESS_DENIED);
    if (ask && err != EAGAIN && err != EBUSY)
        LeaseSkips = LeaseRetryAfter;
    // Open elsewhere: as the constructor above, a holder that denies sharing keeps us out.
    if (flock(Fd_, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        throw EInOutError(ERROR_SHARING_VIOLATION);
    Size_ = static_cast<int64_t>(Stat_.st_size);
    FirstBlock_ = Read(block, static_cast<std::size_t>(std::min<int64_t>(count, Size_)));
}

// A lease goes with the close. Only a child forked without exec while the file is open
// would keep it longer (our descriptors are close-on-exec), and a scan holds no file for a
// moment longer than the read of it, so it is not given back first, which would cost every
// file that does not match one more system call.
ReadOnlyFile::~ReadOnlyFile() {
    if (Fd_ >= 0)
        close(Fd_);
}

std::size_t ReadOnlyFile::Read(void* buffer, std::size_t count) {
    // Whoever opened the file during the scan waits on our lease: let them in between blocks
    // rather than at the end of a long file.
    if (Lease_ == Lease::Held && Position_ > 0)
        LeaseState();
    std::size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < count) {
        const ssize_t got = pread(Fd_, out + done, count - done, static_cast<off_t>(Position_));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw EInOutError(SystemErrorFromErrno(errno));
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
        Position_ += got;
    }
    return done;
}

void ReadOnlyFile::Seek(int64_t position) {
    if (position < 0)
        throw EInOutError(ERROR_NEGATIVE_SEEK);
    Position_ = position;
}

ReadOnlyFile::Lease ReadOnlyFile::LeaseState() {
    if (Lease_ == Lease::Held && Fd_ >= 0 && fcntl(Fd_, F_GETLEASE) != F_WRLCK)
        LetOpenerIn();
    return Lease_;
}

void ReadOnlyFile::LetOpenerIn() {
    // The shared lock first, so that the opener, once in, finds the file in use as before.
    flock(Fd_, LOCK_SH | LOCK_NB);
    fcntl(Fd_, F_SETLEASE, F_UNLCK);
    Lease_ = Lease::Refused;
}

const struct stat& ReadOnlyFile::Status() {
    // Left empty only where the lease settled the size, and the lease still holds the file
    // as it was read.
    if (!Stated_) {
        if (fstat(Fd_, &Stat_) != 0)
            throw EInOutError(SystemErrorFromErrno(errno));
        Stated_ = true;
    }
    return Stat_;
}

int ReadOnlyFile::Release() {
    const int fd = Fd_;
    Fd_ = -1;
    return fd;
}

void ReadOnlyFile::Close() {
    const int fd = Fd_;
    Fd_ = -1;
    if (fd >= 0 && close(fd) != 0 && errno != EINTR)
        throw EInOutError(SystemErrorFromErrno(errno));
}

} // namespace ferry
