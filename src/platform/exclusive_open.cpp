#include "platform/exclusive_open.h"

#include "platform/files.h"
#include "platform/system_errors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

namespace ferry {

namespace {

const std::vector<pid_t>* SearchedProcesses = nullptr;

bool Searched(const char* pid) {
    if (!SearchedProcesses)
        return true;
    for (const pid_t wanted : *SearchedProcesses)
        if (std::to_string(wanted) == pid)
            return true;
    return false;
}

bool SameState(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

bool IsNumber(const char* text) {
    if (!*text)
        return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

// Searches one process's descriptors. Returns true on a find.
bool SearchDescriptors(const std::string& pid, dev_t dev, ino_t ino, int ownFd, bool self,
                       bool& complete) {
    const std::string folder = "/proc/" + pid + "/fd";
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        if (errno != ENOENT) // a process that has ended holds nothing
            complete = false;
        return false;
    }
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        if (!IsNumber(entry->d_name))
            continue;
        if (self && (std::atoi(entry->d_name) == ownFd || std::atoi(entry->d_name) == dirfd(dir)))
            continue;
        struct stat st;
        if (stat((folder + "/" + entry->d_name).c_str(), &st) != 0) {
            // Closed meanwhile, or a descriptor of something that cannot be followed (an
            // anonymous object) is not our file; anything else we could not look at might be.
            if (errno != ENOENT && errno != ENOTDIR)
                complete = false;
            continue;
        }
        if (st.st_dev == dev && st.st_ino == ino) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

// A mapping keeps the file open after its descriptor is closed.
bool SearchMappings(const std::string& pid, dev_t dev, ino_t ino, bool& complete) {
    FILE* maps = std::fopen(("/proc/" + pid + "/maps").c_str(), "re");
    if (!maps) {
        if (errno != ENOENT)
            complete = false;
        return false;
    }
    char line[4096];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, maps)) {
        unsigned devMajor = 0, devMinor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line, "%*s %*s %*s %x:%x %llu", &devMajor, &devMinor, &inode) == 3 &&
            inode == static_cast<unsigned long long>(ino) && devMajor == major(dev) &&
            devMinor == minor(dev))
            found = true;
        // Lines longer than the buffer continue on the next read; their tail never parses.
    }
    if (std::ferror(maps))
        complete = false;
    std::fclose(maps);
    return found;
}

} // namespace

bool OpenedByOthers(dev_t dev, ino_t ino, int ownFd, bool& complete) {
    complete = true;
    DIR* proc = opendir("/proc");
    if (!proc) {
        complete = false;
        return false;
    }
    const std::string self = std::to_string(getpid());
    bool found = false;
    while (!found) {
        errno = 0;
        const dirent* entry = readdir(proc);
        if (!entry) {
            if (errno != 0)
                complete = false;
            break;
        }
        if (!IsNumber(entry->d_name) || !Searched(entry->d_name))
            continue;
        const std::string pid = entry->d_name;
        found = SearchDescriptors(pid, dev, ino, ownFd, pid == self, complete) ||
                SearchMappings(pid, dev, ino, complete);
    }
    closedir(proc);
    return found;
}

void SetSearchedProcessesForTesting(const std::vector<pid_t>* pids) {
    SearchedProcesses = pids;
}

ExclusiveOpen::~ExclusiveOpen() {
    Close();
}

int ExclusiveOpen::Open(const std::string& path) {
    Close();
    // O_NONBLOCK: a file under another process's lease (another copy of us moving it) is
    // refused at once instead of waiting for that lease to break.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int err = errno;
        return err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : OpenErrorCode(path, err);
    }
    Fd_ = fd;
    if (fstat(fd, &Stat_) != 0) {
        const int err = errno;
        Close();
        return SystemErrorFromErrno(err);
    }
    if (!S_ISREG(Stat_.st_mode)) {
        Close();
        return ERROR_ACCESS_DENIED;
    }

    const int leaseErr = TakeWriteLease(fd);
    Lease_ = leaseErr == 0;
    if (leaseErr == EAGAIN || leaseErr == EBUSY) {
        Close();
        return ERROR_SHARING_VIOLATION;
    }
    // Written to between the first look and the lease (a writer that had it open then):
    // under the lease it holds still, so this look is final.
    if (Lease_ && fstat(fd, &Stat_) != 0) {
        const int err = errno;
        Close();
        return SystemErrorFromErrno(err);
    }
    Seen_ = Stat_;
    return Settle(path);
}

int ExclusiveOpen::Adopt(ReadOnlyFile& file, const std::string& path) {
    Close();
    const ReadOnlyFile::Lease lease = file.LeaseState();
    Stat_ = file.Stat();
    Fd_ = file.Release();
    if (Fd_ < 0)
        return ERROR_INVALID_HANDLE;
    if (lease == ReadOnlyFile::Lease::Refused) {
        Close();
        return ERROR_SHARING_VIOLATION;
    }
    Lease_ = lease == ReadOnlyFile::Lease::Held;
    Seen_ = Stat_;
    return Settle(path);
}

int ExclusiveOpen::Settle(const std::string& path) {
    if (!Lease_) {
        bool complete = false;
        if (OpenedByOthers(Stat_.st_dev, Stat_.st_ino, Fd_, complete) || !complete) {
            Close();
            return ERROR_SHARING_VIOLATION;
        }
    }
    // Replaced between the open and now: not the file the caller scanned.
    if (!Names(path)) {
        Close();
        return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

bool ExclusiveOpen::Alone(bool thorough) const {
    if (Fd_ < 0)
        return false;
    if (Lease_)
        return fcntl(Fd_, F_GETLEASE) == F_WRLCK;
    struct stat now;
    if (fstat(Fd_, &now) != 0 || !SameState(now, Stat_))
        return false;
    if (!thorough)
        return true;
    bool complete = false;
    return !OpenedByOthers(Stat_.st_dev, Stat_.st_ino, Fd_, complete) && complete;
}

void ExclusiveOpen::Refresh() {
    struct stat now;
    if (Fd_ < 0 || fstat(Fd_, &now) != 0)
        return;
    Seen_ = now;
    // Under a lease Alone asks the lease alone; Stat_ stays what the open found.
    if (!Lease_)
        Stat_ = now;
}

bool ExclusiveOpen::Untouched(bool thorough) const {
    struct stat now;
    if (Fd_ < 0 || fstat(Fd_, &now) != 0 || !SameState(now, Seen_))
        return false;
    if (!Lease_) {
        if (!thorough)
            return true;
        bool complete = false;
        return !OpenedByOthers(Stat_.st_dev, Stat_.st_ino, Fd_, complete) && complete;
    }
    if (fcntl(Fd_, F_GETLEASE) != F_WRLCK)
        return false;
    // An open counts itself among the file's users a little before it reaches the lease;
    // in between only a lease asked for afresh tells, since none is granted while anyone
    // else has the file open. Asking again keeps the lease we hold.
    if (fcntl(Fd_, F_SETLEASE, F_WRLCK) != 0)
        return false;
    fcntl(Fd_, F_SETOWN, 0); // as TakeWriteLease: a break signals nobody
    return true;
}

bool ExclusiveOpen::WaitAlone(int ms) {
    if (Fd_ < 0)
        return false;
    if (Lease_)
        fcntl(Fd_, F_SETLEASE, F_UNLCK);
    const timespec step{0, 1000 * 1000};
    for (int waited = 0; waited <= ms; ++waited) {
        bool alone = false;
        if (Lease_) {
            alone = TakeWriteLease(Fd_) == 0;
        } else {
            bool complete = false;
            alone = !OpenedByOthers(Stat_.st_dev, Stat_.st_ino, Fd_, complete) && complete;
        }
        if (alone)
            return true;
        nanosleep(&step, nullptr);
    }
    Lease_ = false; // given up, and not had again
    return false;
}

bool ExclusiveOpen::Names(const std::string& path) const {
    struct stat st;
    return Fd_ >= 0 && stat(path.c_str(), &st) == 0 && st.st_dev == Stat_.st_dev &&
           st.st_ino == Stat_.st_ino;
}

void ExclusiveOpen::Close() {
    if (Fd_ < 0)
        return;
    bool lease = false;
    const int fd = Release(lease);
    CloseLeased(fd, lease);
}

int ExclusiveOpen::Release(bool& lease) {
    const int fd = Fd_;
    lease = Lease_;
    Fd_ = -1;
    Lease_ = false;
    return fd;
}

void CloseLeased(int fd, bool lease) {
    if (fd < 0)
        return;
    if (lease)
        fcntl(fd, F_SETLEASE, F_UNLCK);
    close(fd);
}

} // namespace ferry
