#include "platform/file_move.h"

#include "platform/copy_mark.h"
#include "platform/exclusive_open.h"
#include "platform/files.h"
#include "platform/system_errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace ferry {

namespace {

const MoveSeam* Seam = nullptr;

// Names and marks of our own files. A temporary is named TempPrefix plus six characters
// and carries TempMark; a finished copy carries MoveMark, naming the source it copies and
// the hash of its content, from before it is linked until the source is gone.
constexpr char TempPrefix[] = ".~ferrydesk-";
constexpr std::size_t TempSuffixLength = 6;
constexpr char TempMark[] = "user.ferrydesk.temp";
constexpr char MoveMark[] = "user.ferrydesk.move";
// The temporary mark of a stashed source names the copy it was moved to.
constexpr char StashValuePrefix[] = "stash ";

constexpr std::size_t CopyChunk = 256 * 1024;

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

// Windows tells a missing source (2) from a missing destination folder (3).
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

// A 64-bit hash of a byte stream, fed in pieces of any length. Not cryptographic: it tells
// whether a copy of ours is still what we wrote.
class ContentHash {
public:
    void Add(const unsigned char* data, std::size_t size) {
        Length += size;
        while (size > 0) {
            if (Filled == 0 && size >= 8) {
                uint64_t word;
                std::memcpy(&word, data, 8);
                Mix(word);
                data += 8;
                size -= 8;
                continue;
            }
            Pending |= static_cast<uint64_t>(*data++) << (8 * Filled);
            --size;
            if (++Filled == 8) {
                Mix(Pending);
                Pending = 0;
                Filled = 0;
            }
        }
    }
    // Holes of a sparse file read as zeros, and are hashed as such.
    void AddZeros(uint64_t count) {
        static const unsigned char zeros[4096] = {};
        while (count > 0) {
            const std::size_t piece = count < sizeof zeros ? count : sizeof zeros;
            Add(zeros, piece);
            count -= piece;
        }
    }
    uint64_t Value() const {
        uint64_t h = State ^ (Pending * 0xff51afd7ed558ccdULL) ^ (Length * 0xc4ceb9fe1a85ec53ULL);
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        return h;
    }

private:
    void Mix(uint64_t word) {
        State ^= word * 0x9e3779b97f4a7c15ULL;
        State = ((State << 31) | (State >> 33)) * 0xbf58476d1ce4e5b9ULL;
    }
    uint64_t State = 0x6a09e667f3bcc908ULL;
    uint64_t Pending = 0;
    uint64_t Length = 0;
    unsigned Filled = 0;
};

// The process's file creation mask, as the kernel tells it (umask() itself can only be read by
// changing it, which other threads would notice); -1 when it cannot be told.
int ProcessUmask() {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    char line[256];
    int mask = -1;
    unsigned value = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = static_cast<int>(value & 0777);
            break;
        }
    std::fclose(status);
    return mask;
}

// Reads a whole descriptor from the start through `visit`; 0 or an errno value.
// With `size` (what fstat said, under a lease that keeps writers out), the read that would
// only find the end is not made.
template <typename Visit> int ReadWhole(int fd, Visit visit, off_t size = -1) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[CopyChunk]);
    off_t offset = 0;
    for (;;) {
        if (offset == size)
            return 0;
        const ssize_t got = pread(fd, buffer.get(), CopyChunk, offset);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        if (const int err = visit(buffer.get(), static_cast<std::size_t>(got)))
            return err;
        offset += got;
    }
}

bool ReadMark(const std::string& path, CopyMark& mark) {
    char value[256];
    const ssize_t size = lgetxattr(path.c_str(), MoveMark, value, sizeof value);
    return size >= 0 &&
           CopyMark::Parse(std::string_view(value, static_cast<std::size_t>(size)), mark);
}

bool ReadFull(int fd, unsigned char* buffer, std::size_t count, off_t offset) {
    while (count > 0) {
        const ssize_t got = pread(fd, buffer, count, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buffer += got;
        count -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

// True when descriptors `a` and `b` both hold exactly `size` bytes, the same ones; `hash`
// receives their hash.
bool SameContent(int a, int b, off_t size, uint64_t& hash) {
    std::unique_ptr<unsigned char[]> left(new unsigned char[CopyChunk]);
    std::unique_ptr<unsigned char[]> right(new unsigned char[CopyChunk]);
    ContentHash sum;
    for (off_t offset = 0; offset < size;) {
        const auto want = static_cast<std::size_t>(std::min<off_t>(CopyChunk, size - offset));
        if (!ReadFull(a, left.get(), want, offset) || !ReadFull(b, right.get(), want, offset) ||
            std::memcmp(left.get(), right.get(), want) != 0)
            return false;
        sum.Add(left.get(), want);
        offset += static_cast<off_t>(want);
    }
    unsigned char beyond;
    if (pread(a, &beyond, 1, size) != 0 || pread(b, &beyond, 1, size) != 0)
        return false;
    hash = sum.Value();
    return true;
}

// The copy in the destination folder, until it is linked under its final name. The
// descriptor stays open after the link, so the mark can be taken off by it.
class TempCopy {
public:
    ~TempCopy() { Discard(); }

    // An unnamed file is made with the permission bits of `mode` at once (nobody can open it
    // before it has a name); ModeAsCreated tells whether the umask left them all.
    int Create(const std::string& folder, mode_t mode) {
        if (const int err = Injected(MoveStep::CreateTemp))
            return err;
        if (!(Seam && Seam->NamedTemp)) {
            Fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode & 0777);
            if (Fd >= 0) {
                static const int mask = ProcessUmask();
                ModeAsCreated =
                    mask >= 0 && (mode & 0777 & ~static_cast<mode_t>(mask)) == (mode & 0777);
                return 0;
            }
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                return errno;
        }
        std::string pattern =
            IncludeTrailingSeparator(folder) + TempPrefix + std::string(TempSuffixLength, 'X');
        Fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (Fd < 0)
            return errno;
        Name = pattern;
        // Until the mark is on, the file is empty: an empty file of our name is ours too.
        fsetxattr(Fd, TempMark, "1", 1, 0);
        return 0;
    }

    // Links the synced copy under `to`, never replacing a file already there.
    int LinkAs(const std::string& to) {
        if (const int err = Injected(MoveStep::Link))
            return err;
        if (Name.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(Fd);
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) != 0) {
                if (errno != ENOENT || Exists("/proc/self/fd"))
                    return errno;
                if (linkat(Fd, "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) != 0)
                    return errno;
            }
            Linked = true;
            return 0;
        }
        if (renameat2(AT_FDCWD, Name.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
                return errno;
            if (link(Name.c_str(), to.c_str()) != 0)
                return errno;
            unlink(Name.c_str()); // should this stay behind, it is a second name of the copy
        }
        Name.clear();
        Linked = true;
        return 0;
    }

    // True when `path` names this copy.
    bool IsAt(const std::string& path) const {
        struct stat mine, there;
        return Fd >= 0 && fstat(Fd, &mine) == 0 && lstat(path.c_str(), &there) == 0 &&
               SameFile(mine, there);
    }

    // Hands the descriptor of the linked copy to the caller.
    int Release() {
        const int fd = Fd;
        Fd = -1;
        return fd;
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
    bool Linked = false;
    bool ModeAsCreated = false;
    std::string Name; // empty for an unnamed copy, or once linked
};

struct Result {
    MoveOutcome Outcome;
    int Code;
    bool SourceGone = false; // a failure after the source's name was already gone
    bool Renamed = false;    // moved by a rename: the destination is the source's own file
};

Result Done() {
    return {MoveOutcome::Moved, ERROR_SUCCESS};
}
Result Taken() {
    return {MoveOutcome::NameTaken, ERROR_ALREADY_EXISTS};
}
Result Busy() {
    return {MoveOutcome::InUse, ERROR_SHARING_VIOLATION};
}
Result Fail(int code) {
    return {MoveOutcome::Failed, code};
}
Result FailErrno(int err) {
    return Fail(SystemErrorFromErrno(err));
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

// Gives the held source a second, hidden name in its folder, marked with where its copy
// went; "" when that cannot be done (no hard links, no user attributes).
std::string StashSource(const ExclusiveOpen& source, const std::string& from,
                        const std::string& to) {
    // A link to the file is not stashed: a second name for the link would not be the file's.
    struct stat named;
    if (lstat(from.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return "";
    const std::string value = StashValuePrefix + to;
    if (fsetxattr(source.Fd(), TempMark, value.data(), value.size(), 0) != 0)
        return "";
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::string stash =
            IncludeTrailingSeparator(FolderOf(from)) + TempPrefix + RandomSuffix();
        if (link(from.c_str(), stash.c_str()) == 0)
            return stash;
        if (errno != EEXIST)
            break;
    }
    fremovexattr(source.Fd(), TempMark);
    return "";
}

// Long enough for an open that has looked up the name to reach the lease.
void SleepForOpensUnderWay() {
    const timespec grace{0, 5 * 1000 * 1000};
    nanosleep(&grace, nullptr);
}

// True when the name now leads to another file than the one held: someone saved a new file
// under it (as editors do, by renaming over it) while the held one was copied. That file is
// not ours to remove; the held one, copied whole, has no name here any more. A link is left
// to the checks that follow: the scan saw its target, not the link.
bool NameTakenByAnother(const ExclusiveOpen& source, const std::string& from) {
    struct stat named;
    return lstat(from.c_str(), &named) == 0 && S_ISREG(named.st_mode) &&
           !SameFile(named, source.Stat());
}

// Takes our mark off a copy whose source is about to go: from then on it is the user's file.
// Before the source's last name goes, so that a kill in between leaves a stash beside an
// identical unmarked copy (which the next pass drops), never a mark outliving its move.
void Unmark(int copy) {
    if (copy >= 0 && !Injected(MoveStep::Unmark))
        fremovexattr(copy, MoveMark);
}

// Removes the held source once its copy is in place. Its name goes first, while the file
// is kept under a stash name for a moment: an open of the old name already on its way (past
// the name, not yet at the lease) would otherwise reach a file that no name leads to any
// more, and what it wrote would be lost. Such an open breaks the lease within the grace; the
// file then gets its name back and the result is InUse. `stashable` is false where the
// copy carries no mark, so that a stash could not be settled after a kill. `copy`, when
// given, is the copy's descriptor, whose mark goes with the source.
Result ReleaseSource(ExclusiveOpen& source, const std::string& from, const std::string& to,
                     bool stashable, int copy = -1) {
    if (NameTakenByAnother(source, from)) {
        Unmark(copy);
        return Done();
    }
    std::string stash;
    int err = Injected(MoveStep::RemoveSource);
    if (!err && stashable)
        stash = StashSource(source, from, to);
    if (!err && unlink(from.c_str()) != 0)
        err = errno;
    if (err) {
        if (!stash.empty()) {
            unlink(stash.c_str());
            fremovexattr(source.Fd(), TempMark);
        }
        return FailErrno(err);
    }
    if (stash.empty()) {
        Unmark(copy);
    } else {
        source.Refresh();
        SleepForOpensUnderWay();
        if (!source.Alone(true)) {
            // Opened after all: the file returns to its name, whole. Should a new file have
            // taken the name meanwhile, ours stays under the stash name, unmarked, as the
            // user's file. The caller takes the copy back once the source has its name again.
            renameat2(AT_FDCWD, stash.c_str(), AT_FDCWD, from.c_str(), RENAME_NOREPLACE);
            fremovexattr(source.Fd(), TempMark);
            SyncFolder(FolderOf(from));
            return Busy();
        }
        Unmark(copy);
        if ((err = Injected(MoveStep::DropStash)) == 0 && unlink(stash.c_str()) != 0)
            err = errno;
        if (err) {
            // The copy is whole; the stash is settled by the next pass over this folder.
            Result result = FailErrno(err);
            result.SourceGone = true;
            return result;
        }
    }
    SyncFolder(FolderOf(from));
    return Done();
}

// Takes a copy of ours out of `to` again when its source has kept its name after all, so
// that the file is in one place: only while `to` still names that copy and nobody else has
// it open (a lease, which our own descriptor would refuse, so `fd` is closed first).
// Otherwise it stays, marked, and a later move of the source settles it.
void TakeBackCopy(int& fd, const std::string& to) {
    struct stat mine;
    const bool known = fd >= 0 && fstat(fd, &mine) == 0;
    if (fd >= 0)
        close(fd);
    fd = -1;
    ExclusiveOpen copy;
    if (!known || copy.Open(to) != ERROR_SUCCESS || !SameFile(copy.Stat(), mine))
        return;
    if (unlink(to.c_str()) == 0)
        SyncFolder(FolderOf(to));
}

// What is left of a move across file systems once the copy is linked and the source's name
// is gone: the source, still held and kept under its stash name, and the copy's descriptor.
struct Deferred {
    std::string From, To, Stash;
    int Copy = -1;
    struct PassCache* Cache = nullptr; // what the pass has learnt so far (given by the batch)
};

// What one pass learns once instead of asking for every file: that renames from a device into
// a folder cross file systems (so the rename is not tried again), and a source folder it may
// write. Either may be out of date by the time it is used; what then fails is handled as it
// is without it (a copy where a rename would do; a source that cannot go keeps its copy back).
struct PassCache {
    dev_t AcrossDevice = 0;
    std::string AcrossFolder;
    std::string WritableSource;

    // Copies made ahead (see MoveBatch::Prepare) are numbered as they are finished; every one
    // numbered up to Durable was finished before a sync of their file system that succeeded.
    std::atomic<uint64_t> Prepared{0};
    uint64_t Durable = 0; // the pass's own
    // The reading thread's own: the destination folder's device, looked at once.
    std::string PrepareFolder;
    dev_t PrepareDevice = 0;
};

// The first half of ReleaseSource: the source's name goes, its content stays under a stash
// name until the copy's name is durable. Moved with `stash` set; Moved with `stash` empty
// when no stash can be made here (the caller then releases the source at once, as a single
// move does); or the failure, with the source's name in place.
Result HideSource(ExclusiveOpen& source, const std::string& from, const std::string& to,
                  std::string& stash, bool& replaced) {
    replaced = false;
    if (const int err = Injected(MoveStep::RemoveSource))
        return FailErrno(err);
    // As StashSource, but the name moves to the stash in one step instead of a second name
    // made and the first removed: a folder operation fewer per file.
    struct stat named;
    if (lstat(from.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return Done();
    if (!SameFile(named, source.Stat())) {
        replaced = true; // as in NameTakenByAnother
        return Done();
    }
    const std::string value = StashValuePrefix + to;
    if (fsetxattr(source.Fd(), TempMark, value.data(), value.size(), 0) != 0)
        return Done();
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::string candidate =
            IncludeTrailingSeparator(FolderOf(from)) + TempPrefix + RandomSuffix();
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) {
            stash = candidate;
            source.Refresh();
            return Done();
        }
        if (errno != EEXIST)
            break;
    }
    // Left to the plain way, which tells what is wrong.
    fremovexattr(source.Fd(), TempMark);
    return Done();
}

int WriteAllAt(int fd, const unsigned char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t put = pwrite(fd, data, size, offset);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += put;
        size -= static_cast<std::size_t>(put);
        offset += put;
    }
    return 0;
}

// Copies the first `size` bytes of `fd` into `out`, hashing them. A sparse file keeps its
// holes: only the stretches that hold data are read and written, and a hole is hashed as the
// zeros it reads as. Between blocks `alone()` tells whether the source is still untouched.
// Returns 0, ECANCELED when the source was disturbed, or an errno value.
template <typename Alone>
int CopyContent(int fd, off_t size, bool sparse, int out, ContentHash& hash, Alone alone) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[CopyChunk]);
    off_t offset = 0;
    while (offset < size) {
        off_t end = size;
        if (sparse) {
            off_t data = lseek(fd, offset, SEEK_DATA);
            if (data < 0 && errno == ENXIO) {
                data = size; // nothing but a hole up to the end
            } else if (data < 0) {
                if (errno != EINVAL)
                    return errno;
                sparse = false; // the file system cannot tell: copied whole
                data = offset;
            } else if (data > size) {
                data = size;
            }
            if (sparse && data < size) {
                end = lseek(fd, data, SEEK_HOLE);
                if (end < 0)
                    return errno;
                if (end > size)
                    end = size;
            }
            hash.AddZeros(static_cast<uint64_t>(data - offset));
            offset = data;
        }
        while (offset < end) {
            const auto want = static_cast<std::size_t>(std::min<off_t>(CopyChunk, end - offset));
            const ssize_t got = pread(fd, buffer.get(), want, offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return errno;
            if (got == 0)
                return ECANCELED; // shorter than it was: someone changed it
            if (const int err =
                    WriteAllAt(out, buffer.get(), static_cast<std::size_t>(got), offset))
                return err;
            hash.Add(buffer.get(), static_cast<std::size_t>(got));
            offset += got;
            // After the last block the checks before the link and before the source goes say it.
            if (offset < size && !alone())
                return ECANCELED;
        }
    }
    // A hole at the end has no data to write: the size says it.
    if (sparse && ftruncate(out, size) != 0)
        return errno;
    return 0;
}

// Copies the held source (`fd`, as `st` says it is) into a new temporary in `destFolder`
// with its rights, times and, where it can, our mark. Between blocks `alone()` tells whether
// the source is still untouched; a writer that opens it ends the copy at once (InUse), and
// the source stays whole where it is. Moved when the copy is made; not synced yet.
template <typename Alone>
Result MakeCopy(int fd, const struct stat& st, Alone alone, const std::string& destFolder,
                TempCopy& temp, bool& marked) {
    if (const int err = temp.Create(destFolder, st.st_mode))
        return err == ENOENT || err == ENOTDIR ? Fail(ERROR_PATH_NOT_FOUND) : FailErrno(err);
    if (const int err = Injected(MoveStep::Copy))
        return FailErrno(err);

    // The source may not be opened or changed by anyone while it is copied; a writer that
    // opens it ends the copy at once (the lease break), and it stays whole where it is.
    // Fewer blocks than bytes tell a file that may have holes.
    ContentHash hash;
    const bool sparse = static_cast<off_t>(st.st_blocks) * 512 < st.st_size;
    const int err = CopyContent(fd, st.st_size, sparse, temp.Fd, hash, alone);
    if (err == ECANCELED)
        return Busy();
    if (err)
        return FailErrno(err);

    // Keep what a move keeps: permission bits, times and, when we may, the owner.
    static const bool root = geteuid() == 0;
    if (root && fchown(temp.Fd, st.st_uid, st.st_gid) != 0) {
        // The copy then belongs to us; the content is what matters.
    }
    // A change of owner drops the set-id bits, which the creation never gives anyway.
    if (!temp.ModeAsCreated || (st.st_mode & 07000) != 0)
        fchmod(temp.Fd, st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(temp.Fd, times);
    // Without the mark (a file system without user attributes) a copy found under the name
    // after a kill cannot be told from the user's; it then stays, and so does the source.
    const std::string mark = CopyMark::Of(fd, st, hash.Value()).Encode();
    marked = fsetxattr(temp.Fd, MoveMark, mark.data(), mark.size(), 0) == 0;
    return Done();
}

// `defer`, when given, takes the last steps of the move (syncing the destination folder,
// the grace, dropping the source) for a batch to do together.
//
// `prepared`, when given, is a copy of this source made ahead by MoveBatch::Prepare; it is
// used when it was made in the destination folder.
Result CopyAcross(ExclusiveOpen& source, const std::string& from, const std::string& to,
                  Deferred* defer = nullptr, PreparedCopy* prepared = nullptr) {
    const struct stat st = source.Stat();
    // Refuse early what would fail at the end, before copying a large file for nothing.
    const std::string destFolder = FolderOf(to);
    if (Exists(to))
        return Taken();
    PassCache* cache = defer ? defer->Cache : nullptr;
    const std::string sourceFolder = FolderOf(from);
    if (!cache || cache->WritableSource != sourceFolder) {
        if (access(sourceFolder.c_str(), W_OK | X_OK) != 0)
            return FailErrno(errno);
        if (cache)
            cache->WritableSource = sourceFolder;
    }

    TempCopy temp;
    bool marked = false;
    bool durable = false;
    if (prepared && prepared->Fd >= 0 && prepared->Folder == destFolder) {
        // Made ahead from this very descriptor, which nobody has opened since (the lease).
        temp.Fd = prepared->Fd;
        prepared->Fd = -1;
        marked = prepared->Marked;
        durable = cache && prepared->Sequence <= cache->Durable;
        if (!durable && cache && !Injected(MoveStep::Sync)) {
            // One sync of the file system serves every copy made ahead so far.
            const uint64_t finished = cache->Prepared.load();
            if (syncfs(temp.Fd) == 0) {
                cache->Durable = finished;
                durable = true;
            }
        }
    } else {
        const Result made = MakeCopy(
            source.Fd(), st, [&] { return source.Alone(false); }, destFolder, temp, marked);
        if (made.Outcome != MoveOutcome::Moved)
            return made;
    }

    int err = durable ? 0 : Injected(MoveStep::Sync);
    if (!err && !durable && fsync(temp.Fd) != 0)
        err = errno;
    if (err)
        return FailErrno(err);
    if (!source.Alone(true))
        return Busy();

    if ((err = temp.LinkAs(to)) != 0) {
        if (err == EEXIST)
            return Taken();
        return err == ENOENT ? Fail(ERROR_PATH_NOT_FOUND) : FailErrno(err);
    }
    // A batch syncs the folder once for all its copies, before any source goes.
    const bool batched = defer && marked;
    if (!batched)
        SyncFolder(destFolder);

    // Someone opened the source since it was copied: it must not go now, and the copy goes
    // again, so that the file stays in one place.
    if (!source.Alone(true)) {
        TakeBackCopy(temp.Fd, to);
        return Busy();
    }
    if (batched) {
        std::string stash;
        bool replaced = false;
        const Result hidden = HideSource(source, from, to, stash, replaced);
        if (hidden.Outcome != MoveOutcome::Moved) {
            if (temp.IsAt(to))
                unlink(to.c_str()); // never made durable: nothing to sync
            return hidden;
        }
        if (replaced) {
            SyncFolder(destFolder);
            Unmark(temp.Fd);
            return Done();
        }
        if (!stash.empty()) {
            defer->From = from;
            defer->To = to;
            defer->Stash = stash;
            defer->Copy = temp.Release();
            return Done();
        }
        SyncFolder(destFolder); // no stash here: the source goes now, after its copy is durable
    }
    const Result released = ReleaseSource(source, from, to, marked, marked ? temp.Fd : -1);
    // The source could not go, or was opened and has its name back: the file exists once.
    if ((released.Outcome == MoveOutcome::Failed && !released.SourceGone) ||
        (released.Outcome == MoveOutcome::InUse && source.Names(from)))
        TakeBackCopy(temp.Fd, to);
    return released;
}

// A rename on one file system; Failed with ERROR_NOT_SAME_DEVICE when it has to copy.
Result RenameHeld(const std::string& from, const std::string& to) {
    int err = Injected(MoveStep::Rename);
    if (!err && renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return Done();
    if (!err)
        err = errno;
    if (err == EEXIST)
        return Taken();
    if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
        // A file system without the no-replace rename: a hard link never replaces either.
        if (link(from.c_str(), to.c_str()) != 0)
            return errno == EEXIST ? Taken() : Fail(MoveErrorCode(errno, from));
        if (unlink(from.c_str()) != 0) {
            const int unlinkErr = errno;
            unlink(to.c_str());
            return FailErrno(unlinkErr);
        }
        return Done();
    }
    if (err == EXDEV)
        return Fail(ERROR_NOT_SAME_DEVICE);
    return Fail(MoveErrorCode(err, from));
}

enum class Settled { SourceGone, NameFree, Taken, InUse, Failed };

// The name is taken at the destination. What is there may be our own copy of this very
// source, left by a move cut short by the end of an earlier process; the source then goes.
// Only what is provably that is settled: a copy marked as made from this inode of this birth
// and size, still what we wrote, and byte for byte the source. Anything else stays, and so
// does the source.
Settled SettleTaken(ExclusiveOpen& source, const std::string& from, const std::string& to,
                    int& code) {
    struct stat there;
    if (lstat(to.c_str(), &there) != 0)
        return Settled::NameFree; // gone meanwhile
    // The destination name leads to the source itself (its own folder under another spelling
    // or through a link, or a second name of the file): it is never touched.
    if (SameFile(there, source.Stat()))
        return Settled::Taken;
    CopyMark mark;
    if (!S_ISREG(there.st_mode) || !ReadMark(to, mark) || !mark.Names(source.Stat()))
        return Settled::Taken;
    int copy = open(to.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (copy < 0)
        return errno == EWOULDBLOCK ? Settled::InUse : Settled::Taken;
    const CopyMark now = CopyMark::Of(source.Fd(), source.Stat(), 0);
    struct stat opened;
    Settled settled = Settled::Taken;
    uint64_t hash = 0;
    if (fstat(copy, &opened) != 0 || !SameFile(opened, there)) {
        // replaced meanwhile: not the file we looked at
    } else if (mark.Outlived(now)) {
        // The mark names a file that is gone, whose inode number this one was given: the move
        // it was made for is over, and the copy is the user's.
        fremovexattr(copy, MoveMark);
    } else if (mark.IsOf(now) && opened.st_size == mark.Size &&
               SameContent(copy, source.Fd(), mark.Size, hash) && hash == mark.Hash) {
        if (!source.Alone(true) || !source.Names(from)) {
            settled = Settled::InUse;
        } else {
            const Result released = ReleaseSource(source, from, to, true, copy);
            code = released.Code;
            settled = released.Outcome == MoveOutcome::Moved   ? Settled::SourceGone
                      : released.Outcome == MoveOutcome::InUse ? Settled::InUse
                                                               : Settled::Failed;
            if (released.Outcome == MoveOutcome::InUse && source.Names(from))
                TakeBackCopy(copy, to);
        }
    }
    if (copy >= 0)
        close(copy);
    return settled;
}

Result MoveHeld(ExclusiveOpen& source, const std::string& from, const std::string& to,
                Deferred* defer = nullptr, PreparedCopy* prepared = nullptr) {
    for (int attempt = 0;; ++attempt) {
        Result result = Fail(ERROR_NOT_SAME_DEVICE);
        PassCache* cache = defer ? defer->Cache : nullptr;
        // A copy made ahead was made because the move crosses file systems; it serves once.
        const bool across =
            (prepared && attempt == 0) ||
            (cache && !cache->AcrossFolder.empty() && cache->AcrossDevice == source.Stat().st_dev &&
             cache->AcrossFolder == FolderOf(to));
        if (!(Seam && Seam->ForceCopy) && !across) {
            result = RenameHeld(from, to);
            result.Renamed = result.Outcome == MoveOutcome::Moved;
            if (cache && result.Outcome == MoveOutcome::Failed &&
                result.Code == ERROR_NOT_SAME_DEVICE) {
                cache->AcrossDevice = source.Stat().st_dev;
                cache->AcrossFolder = FolderOf(to);
            }
        }
        if (result.Outcome == MoveOutcome::Failed && result.Code == ERROR_NOT_SAME_DEVICE)
            result = CopyAcross(source, from, to, defer, attempt == 0 ? prepared : nullptr);
        if (result.Outcome != MoveOutcome::NameTaken || attempt > 0)
            return result;
        int settleCode = ERROR_GEN_FAILURE;
        switch (SettleTaken(source, from, to, settleCode)) {
        case Settled::SourceGone:
            return Done();
        case Settled::NameFree:
            continue; // move afresh, once
        case Settled::Taken:
            return result;
        case Settled::InUse:
            return Busy();
        case Settled::Failed:
            return Fail(settleCode);
        }
    }
}

Result Move(const std::string& from, const std::string& to) {
    if (from.empty())
        return Fail(ERROR_FILE_NOT_FOUND);
    if (to.empty())
        return Fail(ERROR_PATH_NOT_FOUND);
    if (const int err = Injected(MoveStep::OpenSource))
        return FailErrno(err);
    // Our own descriptor is the only one allowed; the content scan's is closed by now.
    ExclusiveOpen source;
    const int code = source.Open(from);
    if (code == ERROR_SHARING_VIOLATION)
        return Busy();
    if (code != ERROR_SUCCESS)
        return Fail(code);
    return MoveHeld(source, from, to);
}

Result MoveScanned(ReadOnlyFile& file, const std::string& from, const std::string& to,
                   ExclusiveOpen& source, Deferred* defer, PreparedCopy* prepared = nullptr) {
    const int code = source.Adopt(file, from);
    if (to.empty())
        return Fail(ERROR_PATH_NOT_FOUND);
    if (const int err = Injected(MoveStep::OpenSource))
        return FailErrno(err);
    if (code == ERROR_SHARING_VIOLATION)
        return Busy();
    if (code != ERROR_SUCCESS)
        return Fail(code);
    return MoveHeld(source, from, to, defer, prepared);
}

bool HasTempName(const std::string& name) {
    const std::size_t prefix = sizeof TempPrefix - 1;
    return name.size() == prefix + TempSuffixLength && name.compare(0, prefix, TempPrefix) == 0;
}

} // namespace

MoveOutcome MoveFileChecked(const std::string& from, const std::string& to, int* error) {
    const Result result = Move(from, to);
    if (error)
        *error = result.Code;
    return result.Outcome;
}

MoveOutcome MoveScannedFile(ReadOnlyFile& file, const std::string& from, const std::string& to,
                            int* error) {
    ExclusiveOpen source;
    const Result result = MoveScanned(file, from, to, source, nullptr);
    if (error)
        *error = result.Code;
    return result.Outcome;
}

// The moves of a batch go through two stages: filling, until the batch is due; then waiting,
// with the destination folders synced, for the grace that the opens of the old names under way
// are given, while the next batch fills. The grace then costs the pass no time of its own.
struct MoveBatch::State {
    PassCache Cache;
    Closer CloseFile;
    struct Pending {
        std::unique_ptr<ExclusiveOpen> Source; // holds the source, with its lease, to the end
        Deferred Left;
    };
    struct Stage {
        std::vector<Pending> Moves;
        std::chrono::steady_clock::time_point First, LastHidden;
        bool Synced = false;
    };
    Stage Filling, Waiting;
};

namespace {

constexpr std::chrono::milliseconds Grace{5};

void SyncOnce(std::vector<std::string>& done, const std::string& folder) {
    for (const std::string& synced : done)
        if (synced == folder)
            return;
    done.push_back(folder);
    SyncFolder(folder);
}

} // namespace

MoveBatch::MoveBatch() : State_(std::make_unique<State>()) {}

MoveBatch::~MoveBatch() {
    Finish();
}

MoveOutcome MoveBatch::Move(ReadOnlyFile& file, const std::string& from, const std::string& to,
                            int* error, struct stat* renamed,
                            std::unique_ptr<PreparedCopy> prepared) {
    auto source = std::make_unique<ExclusiveOpen>();
    Deferred left;
    left.Cache = &State_->Cache;
    const Result result = MoveScanned(file, from, to, *source, &left, prepared.get());
    if (error)
        *error = result.Code;
    if (renamed) {
        if (result.Renamed)
            *renamed = source->Stat();
        else
            renamed->st_ino = 0;
    }
    if (left.Copy >= 0) {
        State::Stage& filling = State_->Filling;
        const auto now = std::chrono::steady_clock::now();
        if (filling.Moves.empty())
            filling.First = now;
        filling.LastHidden = now;
        filling.Moves.push_back({std::move(source), std::move(left)});
    } else if (State_->CloseFile && source->Fd() >= 0) {
        bool lease = false;
        const int fd = source->Release(lease);
        State_->CloseFile(fd, lease);
    }
    return result.Outcome;
}

PreparedCopy::~PreparedCopy() {
    if (Fd >= 0)
        close(Fd); // an unnamed file: gone with its last descriptor
}

std::unique_ptr<PreparedCopy> MoveBatch::Prepare(ReadOnlyFile& file, const std::string& toFolder) {
    // Tests that steer the steps of a move, or want named temporaries, get the moves they steer.
    if (Seam && (Seam->Fail || Seam->NamedTemp))
        return nullptr;
    PassCache& cache = State_->Cache;
    const std::string folder = FolderOf(IncludeTrailingSeparator(toFolder) + "x");
    if (cache.PrepareFolder != folder) {
        struct stat there;
        if (stat(folder.c_str(), &there) != 0)
            return nullptr;
        cache.PrepareFolder = folder;
        cache.PrepareDevice = there.st_dev;
    }
    const struct stat& st = file.Stat();
    if (st.st_dev == cache.PrepareDevice && !(Seam && Seam->ForceCopy))
        return nullptr; // a rename moves it
    auto copy = std::make_unique<PreparedCopy>();
    TempCopy temp;
    bool marked = false;
    const Result made = MakeCopy(
        file.Fd(), st, [&] { return file.LeaseState() == ReadOnlyFile::Lease::Held; }, folder, temp,
        marked);
    // Only an unnamed copy: it vanishes with the process, whenever that ends.
    if (made.Outcome != MoveOutcome::Moved || !temp.Name.empty())
        return nullptr;
    copy->Fd = temp.Release();
    copy->Folder = folder;
    copy->Marked = marked;
    copy->Sequence = ++cache.Prepared;
    return copy;
}

void MoveBatch::CloseWith(Closer closer) {
    State_->CloseFile = std::move(closer);
}

// Every copy's name durable before any source content goes.
static void SyncDestinations(MoveBatch::State::Stage& stage) {
    if (stage.Synced)
        return;
    std::vector<std::string> synced;
    for (const MoveBatch::State::Pending& move : stage.Moves)
        SyncOnce(synced, FolderOf(move.Left.To));
    stage.Synced = true;
}

// Drops the stashes of a stage whose grace is over, or gives a source opened meanwhile its
// name back; syncs each source folder once after. Appends the sources given back.
static void Complete(MoveBatch::State::Stage& stage, std::vector<std::string>& returned) {
    if (stage.Moves.empty())
        return;
    SyncDestinations(stage);
    const auto graceEnd = stage.LastHidden + Grace;
    const auto now = std::chrono::steady_clock::now();
    if (now < graceEnd) {
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(graceEnd - now);
        const timespec grace{0, static_cast<long>(wait.count())};
        nanosleep(&grace, nullptr);
    }
    std::vector<std::string> synced;
    for (MoveBatch::State::Pending& move : stage.Moves) {
        ExclusiveOpen& source = *move.Source;
        Deferred& left = move.Left;
        if (!source.Alone(true)) {
            // Opened after all: as in ReleaseSource, the file returns to its name, whole, and
            // the copy goes again.
            const bool back = renameat2(AT_FDCWD, left.Stash.c_str(), AT_FDCWD, left.From.c_str(),
                                        RENAME_NOREPLACE) == 0;
            fremovexattr(source.Fd(), TempMark);
            if (back)
                TakeBackCopy(left.Copy, left.To);
            returned.push_back(left.From);
        } else {
            Unmark(left.Copy);
            // A stash that stays is settled by the next pass over its folder.
            if (!Injected(MoveStep::DropStash))
                unlink(left.Stash.c_str());
        }
        SyncOnce(synced, FolderOf(left.From));
    }
    for (MoveBatch::State::Pending& move : stage.Moves)
        move.Source->Close();
    for (const MoveBatch::State::Pending& move : stage.Moves)
        if (move.Left.Copy >= 0)
            close(move.Left.Copy);
    stage = MoveBatch::State::Stage{};
}

std::vector<std::string> MoveBatch::Advance() {
    std::vector<std::string> returned;
    State::Stage& waiting = State_->Waiting;
    State::Stage& filling = State_->Filling;
    const auto now = std::chrono::steady_clock::now();
    if (!waiting.Moves.empty() && now >= waiting.LastHidden + Grace)
        Complete(waiting, returned);
    const bool due = filling.Moves.size() >= MaxMoves ||
                     (!filling.Moves.empty() && now - filling.First >= MaxAge);
    if (due) {
        Complete(waiting, returned); // still in its grace only when batches fill very fast
        SyncDestinations(filling);
        std::swap(waiting, filling);
    }
    return returned;
}

std::size_t MoveBatch::Unfinished() const {
    return State_->Waiting.Moves.size() + State_->Filling.Moves.size();
}

std::vector<std::string> MoveBatch::Finish() {
    std::vector<std::string> returned;
    Complete(State_->Waiting, returned);
    Complete(State_->Filling, returned);
    return returned;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to, int* error) {
    return MoveFileChecked(from, to, error) == MoveOutcome::Moved;
}

bool IsMoveTemporary(const std::string& path) {
    if (!HasTempName(NameOf(path)))
        return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return st.st_size == 0 || lgetxattr(path.c_str(), TempMark, nullptr, 0) >= 0;
}

int RemoveMoveLeftovers(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return 0;
    std::vector<std::string> candidates;
    while (const dirent* entry = readdir(dir)) {
        if (HasTempName(entry->d_name))
            candidates.push_back(IncludeTrailingSeparator(folder) + entry->d_name);
    }
    closedir(dir);
    int removed = 0;
    for (const std::string& path : candidates) {
        if (!IsMoveTemporary(path))
            continue;
        // A move in progress (in another running copy) has its temporary open.
        ExclusiveOpen temp;
        if (temp.Open(path) != ERROR_SUCCESS || !temp.Names(path))
            continue;
        char value[4096];
        const ssize_t size = fgetxattr(temp.Fd(), TempMark, value, sizeof value - 1);
        const std::string mark = size > 0 ? std::string(value, static_cast<std::size_t>(size)) : "";
        const std::size_t stashPrefix = sizeof StashValuePrefix - 1;
        if (temp.Stat().st_nlink > 1 || mark.compare(0, stashPrefix, StashValuePrefix) != 0) {
            // A temporary, or a second name of a file that has its own.
            if (unlink(path.c_str()) == 0)
                ++removed;
            if (temp.Stat().st_nlink > 1)
                fremovexattr(temp.Fd(), TempMark);
            continue;
        }
        // A stashed source whose move was cut short: it goes when the copy its mark names is
        // byte for byte the same (the copy's own mark goes first), else it gets its name back.
        const std::string copyPath = mark.substr(stashPrefix);
        const int copy = open(copyPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        struct stat copied;
        uint64_t hash = 0;
        if (copy >= 0 && fstat(copy, &copied) == 0 && S_ISREG(copied.st_mode) &&
            copied.st_size == temp.Stat().st_size &&
            SameContent(copy, temp.Fd(), copied.st_size, hash)) {
            CopyMark copyMark;
            if (ReadMark(copyPath, copyMark) && copyMark.Names(temp.Stat()))
                fremovexattr(copy, MoveMark);
            close(copy);
            if (unlink(path.c_str()) == 0)
                ++removed;
            continue;
        }
        if (copy >= 0)
            close(copy);
        const std::string name = IncludeTrailingSeparator(folder) + NameOf(copyPath);
        renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
        fremovexattr(temp.Fd(), TempMark);
    }
    if (removed > 0)
        SyncFolder(folder);
    return removed;
}

void SetMoveSeamForTesting(const MoveSeam* seam) {
    Seam = seam;
}

} // namespace ferry
