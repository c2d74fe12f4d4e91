#pragma once

// Files and folders: paths, listings, and reading a file under a lease.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ferry {

// The folder separator of file paths on this platform.
constexpr char PathSeparator = '/';

// Appends the separator unless the path already ends with one. An empty path stays empty.
std::string IncludeTrailingSeparator(const std::string& path);

// True when `name` matches a listing mask: '*' any run of characters, '?' exactly one,
// letters compared without regard to ASCII case. As on Windows, "*.*" matches every name,
// also names without a dot.
bool MatchesFileMask(const std::string& name, const std::string& mask);

// Lists the plain names (no path) of the files in `folder` that match `mask`, in the order
// the folder yields them. Files are regular files and links to regular files, hidden
// (dot) and read-only ones included. Folders, FIFOs, sockets, devices and dangling links
// are skipped: opening a FIFO would block for ever. Returns false, with `names` left
// empty, when the folder cannot be listed.
bool ListFiles(const std::string& folder, const std::string& mask, std::vector<std::string>& names);
// The same, telling for each name whether the listing saw a file itself (not a symbolic link).
bool ListFiles(const std::string& folder, const std::string& mask, std::vector<std::string>& names,
               std::vector<bool>& plain);

// True when the path names an existing folder (following links).
bool FolderExists(const std::string& path);

// The Windows system error code for a failed open of `path` with `err` as errno: a missing
// file in a missing folder is "path not found" (3) rather than "file not found" (2).
int OpenErrorCode(const std::string& path, int err);

// Takes a write lease on `fd`, quietly: a break is learnt by asking (F_GETLEASE), never by a
// signal (the first lease makes the process ignore SIGIO, unless it handles it). Returns 0, or the
// errno of the refusal (EAGAIN or EBUSY: the file is open elsewhere; anything else: no lease can be
// had here).
int TakeWriteLease(int fd);

// A file opened for reading only, letting others read and write it meanwhile. Every
// failure raises EInOutError with the Windows system error code.
//
// A file that another program holds under an exclusive lock (flock LOCK_EX) is refused with
// ERROR_SHARING_VIOLATION (32): that is how a program here says it denies read sharing.
// While open, the file carries our shared lock, so an exclusive taker is refused in turn.
// Anything that is not a regular file is refused with ERROR_ACCESS_DENIED (5), so a FIFO
// or a device can never stall or flood a scan. A file another copy of the program is moving
// (under its lease) is read all the same: the open waits until that move gives it up.
//
// Opened `ForMove`, the file is also taken under a write lease when it can be, so that a scan
// that ends in a move needs no second open: the lease is granted only while no other
// descriptor of the file is open anywhere, and anyone opening it meanwhile breaks it. With
// the lease held no one else has the file, so no lock is needed to keep a sharing denier out;
// a break found between two blocks takes the shared lock, then lets the opener in.
class ReadOnlyFile {
public:
    enum class Purpose { Scan, ForMove };
    // What became of the lease of a file opened ForMove.
    enum class Lease {
        None,    // not asked for, or not to be had here (not our file, no leases)
        Held,    // held, and nobody has opened the file since
        Refused, // another descriptor of the file was open, or one was opened meanwhile
    };

    explicit ReadOnlyFile(const std::string& path, Purpose purpose = Purpose::Scan);
    // Opens the file as Purpose::Scan does and reads its first `count` bytes into `block` (all
    // of it when shorter; FirstBlock() tells how many), with fewer system calls for a file that
    // no one else has open. Such a file is taken under a write lease instead of being sized
    // and locked: the lease is granted only on a regular file with no other descriptor open
    // anywhere, so no holder can be denying sharing, and anyone opening it meanwhile waits for
    // the lease (an opener that may not wait is told EWOULDBLOCK). A short read then gives the
    // size. A file that goes on past the block is sized and its lease traded for the shared
    // lock before anything more is read: others wait at most for one block's read. Stat() is
    // left empty when the lease settled it.
    ReadOnlyFile(const std::string& path, void* block, std::size_t count);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // The size in bytes when the file was opened.
    int64_t Size() const { return Size_; }
    // Reads up to `count` bytes at the current position and advances it; returns fewer
    // only at the end of the file.
    std::size_t Read(void* buffer, std::size_t count);
    // Moves the current position to an absolute offset (0 or more).
    void Seek(int64_t position);
    int64_t Position() const { return Position_; }
    // Closes the file, raising when the system reports a failure. The destructor closes
    // without raising when Close was not called.
    void Close();

    // The lease as it stands now. Held turns Refused once someone opens the file, and the
    // opener, who waits on the lease, is let in at once.
    Lease LeaseState();
    // The lease as the open left it, without asking the kernel again.
    Lease LeaseAsOpened() const { return Lease_; }
    // What fstat said when the file was opened.
    const struct stat& Stat() const { return Stat_; }
    // The same, asked of the descriptor now when the open left Stat() empty; call it before
    // reading past the first block, while the file is as it was read.
    const struct stat& Status();
    // Bytes the first-block constructor read; 0 after the others.
    std::size_t FirstBlock() const { return FirstBlock_; }
    // Hands the descriptor, with its lease or lock, to the caller, who closes it.
    int Release();
    // The descriptor, still ours; for reads at an offset (pread), which leave Read's alone.
    int Fd() const { return Fd_; }

private:
    void LetOpenerIn();
    void ReadFirstBlock(void* block, std::size_t count);

    int Fd_ = -1;
    int64_t Position_ = 0;
    int64_t Size_ = 0;
    Lease Lease_ = Lease::None;
    std::size_t FirstBlock_ = 0;
    struct stat Stat_ {};
    bool Stated_ = false;
};

} // namespace ferry
