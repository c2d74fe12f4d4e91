#include "platform/file_move.h"

#include "platform/files.h"
#include "platform/system_errors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

namespace {

const MoveSeam* Seam = nullptr;

int Injected(MoveStep step) {
    return Seam && Seam->Fail ? Seam->Fail(step) : 0;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of(PathSeparator);
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Windows tells a missing source (2) from a missing destination folder (3).
int MoveErrorCode(int err, const std::string& from, const std::string& to) {
    if (err == ENOENT)
        return Exists(from) ? ERROR_PATH_NOT_FOUND : OpenErrorCode(from, ENOENT);
    return SystemErrorFromErrno(err);
}

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Copies every byte of `in` to `out`; 0 or an errno value.
int CopyContent(int in, int out, off_t size) {
    off_t offset = 0;
    while (offset < size) {
        const ssize_t sent = sendfile(out, in, &offset, static_cast<size_t>(size - offset));
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EINVAL && errno != ENOSYS)
                return errno;
            break; // no sendfile between these two: plain copy below
        }
        if (sent == 0)
            return 0; // the source shrank meanwhile; what was there is copied
    }
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = pread(in, buffer, sizeof buffer, offset);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += put;
        }
        offset += got;
    }
}

// The copy in the destination folder, until it is linked under its final name.
class TempCopy {
public:
    ~TempCopy() { Discard(); }

    int Create(const std::string& folder) {
        if (const int err = Injected(MoveStep::CreateTemp))
            return err;
        if (!(Seam && Seam->NamedTemp)) {
            Fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
            if (Fd >= 0)
                return 0;
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                return errno;
        }
        std::string pattern = IncludeTrailingSeparator(folder) + ".~ferrydesk-XXXXXX";
        Fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (Fd < 0)
            return errno;
        Name = pattern;
        return 0;
    }

    // Links the synced copy under `to`, never replacing a file already there.
    int LinkAs(const std::string& to) {
        if (const int err = Injected(MoveStep::Link))
            return err;
        if (Name.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(Fd);
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0)
                return 0;
            if (errno != ENOENT || !Exists("/proc/self/fd"))
                return errno;
            return linkat(Fd, "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
        }
        if (link(Name.c_str(), to.c_str()) != 0)
            return errno;
        unlink(Name.c_str());
        Name.clear();
        return 0;
    }

    void Discard() {
        if (Fd >= 0)
            close(Fd);
        Fd = -1;
        if (!Name.empty())
            unlink(Name.c_str());
        Name.clear();
    }

    int Fd = -1;
    std::string Name; // empty for an unnamed copy
};

class FdGuard {
public:
    explicit FdGuard(int fd) : Fd(fd) {}
    ~FdGuard() {
        if (Fd >= 0)
            close(Fd);
    }
    int Fd;
};

int CopyAcross(const std::string& from, const std::string& to) {
    if (const int err = Injected(MoveStep::OpenSource))
        return SystemErrorFromErrno(err);
    FdGuard in(open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (in.Fd < 0)
        return OpenErrorCode(from, errno);
    struct stat st;
    if (fstat(in.Fd, &st) != 0)
        return SystemErrorFromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return ERROR_ACCESS_DENIED;

    // Refuse early what would fail at the end, before copying a large file for nothing.
    const std::string destFolder = FolderOf(to);
    if (Exists(to))
        return ERROR_ALREADY_EXISTS;
    if (!FolderExists(destFolder))
        return ERROR_PATH_NOT_FOUND;
    if (access(FolderOf(from).c_str(), W_OK | X_OK) != 0)
        return SystemErrorFromErrno(errno);

    TempCopy temp;
    if (const int err = temp.Create(destFolder))
        return SystemErrorFromErrno(err);
    int err = Injected(MoveStep::Copy);
    if (!err)
        err = CopyContent(in.Fd, temp.Fd, st.st_size);
    if (err)
        return SystemErrorFromErrno(err);

    // Keep what a move keeps: permission bits, times and, when we may, the owner.
    if (geteuid() == 0 && fchown(temp.Fd, st.st_uid, st.st_gid) != 0) {
        // The copy then belongs to us; the content is what matters.
    }
    fchmod(temp.Fd, st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(temp.Fd, times);

    err = Injected(MoveStep::Sync);
    if (!err && fsync(temp.Fd) != 0)
        err = errno;
    if (err)
        return SystemErrorFromErrno(err);

    if ((err = temp.LinkAs(to)) != 0)
        return err == ENOENT ? ERROR_PATH_NOT_FOUND : SystemErrorFromErrno(err);
    temp.Discard();
    SyncFolder(destFolder);

    err = Injected(MoveStep::RemoveSource);
    if (!err && unlink(from.c_str()) != 0)
        err = errno;
    if (err) {
        // The source could not go: take the copy back so the file exists exactly once.
        unlink(to.c_str());
        SyncFolder(destFolder);
        return SystemErrorFromErrno(err);
    }
    SyncFolder(FolderOf(from));
    return ERROR_SUCCESS;
}

int Move(const std::string& from, const std::string& to) {
    if (from.empty())
        return ERROR_FILE_NOT_FOUND;
    if (to.empty())
        return ERROR_PATH_NOT_FOUND;
    if (!(Seam && Seam->ForceCopy)) {
        int err = Injected(MoveStep::Rename);
        if (!err && renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return ERROR_SUCCESS;
        if (!err)
            err = errno;
        if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
            // A file system without the no-replace rename: a hard link never replaces either.
            if (link(from.c_str(), to.c_str()) != 0)
                return MoveErrorCode(errno, from, to);
            if (unlink(from.c_str()) != 0) {
                const int unlinkErr = errno;
                unlink(to.c_str());
                return SystemErrorFromErrno(unlinkErr);
            }
            return ERROR_SUCCESS;
        }
        if (err != EXDEV)
            return MoveErrorCode(err, from, to);
    }
    return CopyAcross(from, to);
}

} // namespace

bool MoveFileNoReplace(const std::string& from, const std::string& to, int* error) {
    const int code = Move(from, to);
    if (error)
        *error = code;
    return code == ERROR_SUCCESS;
}

void SetMoveSeamForTesting(const MoveSeam* seam) {
    Seam = seam;
}

} // namespace ferry
