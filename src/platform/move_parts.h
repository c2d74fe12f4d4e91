#pragma once

// The pieces moves are made of, shared by the files of platform/ that make them: the single
// move (file_move.cpp), the copy across file systems (move_copy.cpp), the batch of a pass
// (move_batch.cpp) and the clean-up of what killed moves left (move_leftovers.cpp). Nothing
// outside platform/ includes this.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_move.h"
#include "platform/system_errors.h"

namespace ferry {

class ExclusiveOpen;
struct CopyMark;

namespace moves {

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

// The errno value the installed seam has `step` fail with, or 0; and the seam itself.
int Injected(MoveStep step);
const MoveSeam* Seam();

std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);
bool Exists(const std::string& path);
bool SameFile(const struct stat& a, const struct stat& b);
// Windows tells a missing source (2) from a missing destination folder (3).
int MoveErrorCode(int err, const std::string& from);
void SyncFolder(const std::string& folder);
// A name of the form our temporaries and stashes have.
bool HasTempName(const std::string& name);
// Six characters for a temporary's name.
std::string RandomSuffix();

struct Result {
    MoveOutcome Outcome;
    int Code;
    bool SourceGone = false; // a failure after the source's name was already gone
    bool Renamed = false;    // moved by a rename: the destination is the source's own file
    bool Restored = false;   // a late writer's content is back under the source's name
};

inline Result Done() {
    return {MoveOutcome::Moved, ERROR_SUCCESS};
}
inline Result Taken() {
    return {MoveOutcome::NameTaken, ERROR_ALREADY_EXISTS};
}
inline Result Busy() {
    return {MoveOutcome::InUse, ERROR_SHARING_VIOLATION};
}
inline Result Fail(int code) {
    return {MoveOutcome::Failed, code};
}
inline Result FailErrno(int err) {
    return Fail(SystemErrorFromErrno(err));
}

bool ReadMark(const std::string& path, CopyMark& mark);
// True when descriptors `a` and `b` both hold exactly `size` bytes, the same ones; `hash`
// receives their hash.
bool SameContent(int a, int b, off_t size, uint64_t& hash);

// The copy in the destination folder, until it is linked under its final name. The
// descriptor stays open after the link, so the mark can be taken off by it.
class TempCopy {
public:
    ~TempCopy() { Discard(); }

    // An unnamed file is made with the permission bits of `mode` at once (nobody can open it
    // before it has a name); ModeAsCreated tells whether the umask left them all.
    int Create(const std::string& folder, mode_t mode);

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

// Whether the source is still untouched: nobody opened or changed it since it was taken.
using StillAlone = std::function<bool()>;

// Copies the held source (`fd`, as `st` says it is) into a new temporary in `destFolder`
// with its rights, times and, where it can, our mark. Between blocks `alone()` tells whether
// the source is still untouched; a writer that opens it ends the copy at once (InUse), and
// the source stays whole where it is. Moved when the copy is made; not synced yet.
Result MakeCopy(int fd, const struct stat& st, const StillAlone& alone,
                const std::string& destFolder, TempCopy& temp, bool& marked);

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

// Takes our mark off a copy whose source is about to go: from then on it is the user's file.
void Unmark(int copy);
// Takes a copy of ours out of `to` again when its source has kept its name after all, so
// that the file is in one place (see file_move.cpp).
void TakeBackCopy(int& fd, const std::string& to);

// The last steps of a source kept under `stash` once its copy (`copy`) is durable: the copy
// becomes the user's and the stash goes, unless someone has opened the source since; the
// source then has its name `from` back (Returned, when that worked; the caller takes the copy
// back) or stays stashed (Kept, `err` says why), for the next pass to settle.
enum class StashEnd { Dropped, Returned, Kept };
StashEnd DropStash(ExclusiveOpen& source, const std::string& from, const std::string& stash,
                   int copy, int& err);

// Asked of a source whose stash was dropped, just before it is let go: an open of the old
// name whose lookup came before the stash and which reached the file only after the stash
// went has written, or will write, into a file without a name. We wait for it to be done and
// give what the file then holds a name again in the source's folder: Named (under `from`; the
// caller takes the copy back), Stashed (`from` taken meanwhile: a stash the next pass names),
// or None when nobody came, or nothing changed, or nothing could be done.
enum class LateOpen { None, Named, Stashed };
LateOpen RecoverLateOpen(ExclusiveOpen& source, const std::string& from, const std::string& to,
                         int copy);
// The move of a file scanned through `file`: its descriptor (and lease) becomes `source`.
// `defer`, when given, takes the last steps for a batch; `prepared` is a copy made ahead.
Result MoveScanned(ReadOnlyFile& file, const std::string& from, const std::string& to,
                   ExclusiveOpen& source, Deferred* defer, PreparedCopy* prepared = nullptr);

} // namespace moves
} // namespace ferry
