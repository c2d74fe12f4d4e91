#include "platform/move_parts.h"

#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <sys/random.h>

namespace ferry {
namespace moves {

namespace {

const MoveSeam* CurrentSeam = nullptr;

} // namespace

int Injected(MoveStep step) {
    return CurrentSeam && CurrentSeam->Fail ? CurrentSeam->Fail(step) : 0;
}

const MoveSeam* Seam() {
    return CurrentSeam;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of(PathSeparator);
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of(PathSeparator);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int MoveErrorCode(int err, const std::string& from) {
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

bool HasTempName(const std::string& name) {
    const std::size_t prefix = sizeof TempPrefix - 1;
    return name.size() == prefix + TempSuffixLength && name.compare(0, prefix, TempPrefix) == 0;
}

// A name taken already is simply tried again with another, so the names need only differ,
// not be unguessable: one seed per thread, not a system call per name.
std::string RandomSuffix() {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local uint64_t state = 0;
    if (state == 0) {
        if (getrandom(&state, sizeof state, 0) != static_cast<ssize_t>(sizeof state))
            state = static_cast<uint64_t>(std::rand()) << 32 ^ static_cast<uint64_t>(getpid());
        state |= 1;
    }
    std::string suffix;
    for (std::size_t i = 0; i < TempSuffixLength; ++i) {
        state ^= state << 13; // xorshift64
        state ^= state >> 7;
        state ^= state << 17;
        suffix += letters[(state >> 32) % (sizeof letters - 1)];
    }
    return suffix;
}

} // namespace moves

void SetMoveSeamForTesting(const MoveSeam* seam) {
    moves::CurrentSeam = seam;
}

} // namespace ferry
