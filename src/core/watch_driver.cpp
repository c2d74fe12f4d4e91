#include "core/watch_driver.h"

#include <cstdlib>

namespace ferry {

WatchDriver::WatchDriver(std::function<void()> notify, const FolderWatchOptions& options)
    : Notify_(std::move(notify)), Watch_(options), Thread_([this] { Loop(); }) {}

WatchDriver::~WatchDriver() {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Stopping_ = true;
    }
    Watch_.Wake();
    Thread_.join();
}

void WatchDriver::SetFolders(std::vector<std::string> folders) {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Folders_ = std::move(folders);
        FoldersGiven_ = true;
    }
    Watch_.Wake();
}

WatchNews WatchDriver::Take() {
    std::lock_guard<std::mutex> guard(Lock_);
    WatchNews news = std::move(News_);
    News_ = WatchNews();
    return news;
}

std::vector<FolderWatchStatus> WatchDriver::Statuses() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Statuses_;
}

void WatchDriver::Loop() {
    for (;;) {
        std::vector<std::string> folders;
        bool given = false;
        {
            std::lock_guard<std::mutex> guard(Lock_);
            if (Stopping_)
                return;
            given = FoldersGiven_;
            FoldersGiven_ = false;
            folders.swap(Folders_);
        }
        // Set on this thread: the watch is driven by one thread only.
        if (given)
            Watch_.SetFolders(folders);
        // The states the new folders took are news at once, not at the next event.
        FolderWatchNews news = given ? Watch_.Process() : Watch_.Wait();
        bool tell = false;
        {
            std::lock_guard<std::mutex> guard(Lock_);
            for (ReadyFiles& ready : news.Ready)
                News_.Ready.push_back(std::move(ready));
            for (FolderWatchStatus& status : news.Changed)
                News_.Changed.push_back(std::move(status));
            tell = !news.Ready.empty() || !news.Changed.empty();
            if (tell || given)
                Statuses_ = Watch_.Statuses();
        }
        if (tell && Notify_)
            Notify_();
    }
}

FolderWatchOptions WatchOptionsFromEnvironment() {
    FolderWatchOptions options;
    if (const char* limit = std::getenv("FERRYDESK_WATCH_PENDING_LIMIT"); limit && *limit) {
        const long n = std::strtol(limit, nullptr, 10);
        if (n > 0)
            options.PendingLimit = static_cast<std::size_t>(n);
    }
    return options;
}

} // namespace ferry
