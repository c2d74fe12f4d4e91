#pragma once

// Files held so that nobody else has them open, for the time of a move.

#include "platform/files.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace ferry {

// A file opened by us while no other process has it open, for as long as we need to move it.
//
// A program here cannot deny sharing when it opens a file, so "in use" is decided the other
// way round: we take a write lease (granted only while no other descriptor of the file is
// open anywhere, and broken by the kernel as soon as another process opens it). Where no
// lease can be had (a file we do not own without CAP_LEASE, a file system without leases)
// every process's descriptors and mappings are searched for the file instead; when that
// search cannot see everything the file counts as in use. Either way an uncertain answer
// leaves the file where it is.
class ExclusiveOpen {
public:
    ExclusiveOpen() = default;
    ~ExclusiveOpen();
    ExclusiveOpen(const ExclusiveOpen&) = delete;
    ExclusiveOpen& operator=(const ExclusiveOpen&) = delete;

    // Opens `path` read-only and makes sure we are alone with it. Returns ERROR_SUCCESS, or
    // ERROR_SHARING_VIOLATION when another process has it open (or may have), or the system
    // error code of a failed open (2, 3, 5, ...). Only regular files are taken.
    int Open(const std::string& path);

    // The same with the descriptor of `file`, opened ForMove at `path` and scanned: its lease
    // is kept when it still holds, and a break (someone opened the file since) is an answer
    // of ERROR_SHARING_VIOLATION. The descriptor is ours from here on, whatever the answer.
    int Adopt(ReadOnlyFile& file, const std::string& path);

    // True while nobody else has opened the file since Open and it is unchanged. With a lease
    // this is exact and cheap; without one the size and times are compared, and `thorough`
    // adds a fresh search of every process.
    bool Alone(bool thorough) const;

    // Takes the file's present size and times as the ones to compare with, after changes of
    // our own (a name added or removed changes the change time).
    void Refresh();

    // The exact answer, for the moment before the file's last name goes and before we let go
    // of it: true when the file is as Refresh last saw it and nobody else has it open, nor is
    // part-way through opening it (counted among its users but not yet at the lease). Without
    // a lease the size and times are compared, and `thorough` adds a search of every process.
    bool Untouched(bool thorough) const;

    // After a late open broke in: gives the lease up so that the opener may go on, then waits
    // up to `ms` milliseconds for it to be done with the file. True when we are alone with it
    // again (under a fresh lease where there was one).
    bool WaitAlone(int ms);

    // True when `path` still names the file we hold.
    bool Names(const std::string& path) const;

    // Gives the lease back and closes the file.
    void Close();

    // Hands the descriptor over, for CloseLeased; `lease` tells whether it holds one.
    int Release(bool& lease);

    int Fd() const { return Fd_; }
    const struct stat& Stat() const { return Stat_; }
    bool HasLease() const { return Lease_; }

private:
    // With the file open: searches for other holders when there is no lease, and checks the
    // name. Closes the file on any answer but ERROR_SUCCESS.
    int Settle(const std::string& path);

    int Fd_ = -1;
    bool Lease_ = false;
    struct stat Stat_ {};
    struct stat Seen_ {}; // as Refresh last saw it
};

// Gives a lease back, when the descriptor holds one, and closes the descriptor. The lease goes
// first: a child forked meanwhile shares the descriptor, and the lease would last until that
// child ends.
void CloseLeased(int fd, bool lease);

// True when a process other than this descriptor of ours has the file (dev, ino) open or
// mapped. `complete` is set false when some process could not be searched.
bool OpenedByOthers(dev_t dev, ino_t ino, int ownFd, bool& complete);

// Test seams. Leases treated as unavailable, so that the search is used; and the search
// limited to the given processes (nullptr: every process), for machines where some process
// can never be searched and the search would therefore never be complete.
void SetLeaseDisabledForTesting(bool disabled);
void SetSearchedProcessesForTesting(const std::vector<pid_t>* pids);

} // namespace ferry
