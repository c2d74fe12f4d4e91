#pragma once

// The folder watch's own thread: it waits on the watch, which costs nothing while nothing
// happens, and hands what it finds to whoever runs the passes, telling them through `notify`
// (called on the watch's thread, so it should only post or signal).

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/folder_watch.h"

namespace ferry {

struct WatchNews {
    std::vector<ReadyFiles> Ready;
    // Each change of a folder's state once, in the order they came.
    std::vector<FolderWatchStatus> Changed;
};

class WatchDriver {
public:
    explicit WatchDriver(std::function<void()> notify, const FolderWatchOptions& options = {});
    ~WatchDriver();
    WatchDriver(const WatchDriver&) = delete;
    WatchDriver& operator=(const WatchDriver&) = delete;

    // The source folders of the tasks; the thread takes them up at once.
    void SetFolders(std::vector<std::string> folders);
    // What came since the last call.
    WatchNews Take();
    // Every folder's state as of the thread's last look.
    std::vector<FolderWatchStatus> Statuses() const;

private:
    void Loop();

    std::function<void()> Notify_;
    FolderWatch Watch_;
    mutable std::mutex Lock_;
    bool Stopping_ = false;
    bool FoldersGiven_ = false;
    std::vector<std::string> Folders_;
    WatchNews News_;
    std::vector<FolderWatchStatus> Statuses_;
    std::thread Thread_;
};

// The watch's options for the program: FERRYDESK_WATCH_PENDING_LIMIT lowers the number of
// names that may wait in one folder, so that an overflow can be made on purpose.
FolderWatchOptions WatchOptionsFromEnvironment();

} // namespace ferry
