#pragma once

// Watches source folders (not their sub-folders, as a pass does not look there) and tells when
// files in them are ready to be routed, so that a pass can come seconds after a file arrives
// rather than at the next interval. The timer's passes stay the source of truth: whatever this
// misses (lost events, a folder it may not or cannot watch) the next timed pass still finds.
//
// A file is ready once it was closed after writing or moved in, no further event came for it
// for the settle time, and no other process has it open (the same lease rule as a pass). It has
// no thread of its own: one thread drives it through Fd() and TimeoutMs() (or Wait), and while
// nothing happens it asks for no wake-up at all, except every few seconds while a folder is
// missing.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace ferry {

enum class FolderWatchState {
    Watched,      // events come
    Missing,      // no folder at the path (yet): looked for again every few seconds
    Shared,       // on a file system others may change without an event here: not watched
    LimitReached, // the system's limit on watches (or on watching programs) was hit
    Failed,       // cannot be watched; Error says why (no right to read it, ...)
};

struct FolderWatchStatus {
    std::string Folder;
    FolderWatchState State = FolderWatchState::Missing;
    int Error = 0;          // errno, for LimitReached and Failed
    std::string FileSystem; // for Shared: its kind ("nfs", "fuse", ...)
};

// Names in one folder that are ready, or the whole folder when it cannot be known which are.
struct ReadyFiles {
    std::string Folder;
    std::vector<std::string> Names; // in the order they became ready
    // Events were lost (the queue overflowed, too many names waited) or the folder has just
    // come (back) under watch: pass every file in it.
    bool WholeFolder = false;
};

struct FolderWatchNews {
    std::vector<ReadyFiles> Ready;
    // Folders whose state changed since the last news (a folder just given counts): each
    // change once, so a limit hit or a folder that cannot be watched is told once.
    std::vector<FolderWatchStatus> Changed;
    bool Woken = false; // Wake() was called
};

struct FolderWatchOptions {
    // How long a closed file must go without another event. The look that follows proves by
    // the lease that nobody has the file open, and every event already queued is read before
    // it, so what is left to ride out is only what a writer does the very moment after its
    // close: reopening to append, renaming a temporary into place (rsync, GIO's saves). Those
    // come within a millisecond or two; whatever comes later would race a timed pass just the
    // same, and is caught by its own events. Kept this short, a file moves within a few
    // milliseconds of its close, as a script on inotifywait would move it.
    std::chrono::milliseconds Settle{2};
    // A file found open elsewhere is looked at again when another process closes it, and
    // after this, then twice as long each time, this many times; after that only a close.
    std::chrono::milliseconds BusyRecheck{1000};
    int BusyRechecks = 6;
    // How often folders that are missing are looked for. Nothing else is polled.
    std::chrono::milliseconds MissingRecheck{2000};
    // Names that may wait in one folder; past this the folder is passed whole instead, which
    // is cheaper than checking each and bounds what a flood of files costs. Tests lower it to
    // make a queue overflow without lowering the system-wide queue limit.
    std::size_t PendingLimit = 4096;
};

class FolderWatch {
public:
    explicit FolderWatch(const FolderWatchOptions& options = {});
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // The folders to watch. Given again when the task table changes: only folders new to the
    // list are added and only those gone from it removed; the same folder named twice (or with
    // a trailing separator) is watched once. Folders that could not be watched for the limit
    // or another failure are tried again.
    void SetFolders(const std::vector<std::string>& folders);

    // The present state of every folder, in the order SetFolders named them.
    std::vector<FolderWatchStatus> Statuses() const;

    // A descriptor that becomes readable when Process has something to do besides deadlines.
    int Fd() const;
    // Milliseconds until the next deadline (a settle, a re-check), 0 when one is due, -1 when
    // nothing is waiting.
    int TimeoutMs() const;
    // Reads what happened and does what is due, without waiting.
    FolderWatchNews Process();
    // Waits for an event, the next deadline, Wake() or `limitMs` (-1: no limit), then Process.
    FolderWatchNews Wait(int limitMs = -1);

    // From any thread: makes the driving thread's wait end (for shutdown, or new folders).
    void Wake();

private:
    struct Impl;
    std::unique_ptr<Impl> I_;
};

// The form a folder is known by in the watch and in its news: without trailing separators.
std::string WatchedFolderName(const std::string& folder);

} // namespace ferry
