#include "platform/hive_watch.h"

#include <cerrno>
#include <climits>
#include <mutex>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace ferry::hive_watch {

namespace {

// The file: its content (every commit writes it) and its rights, name and existence.
constexpr uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF;
// Its folder and each folder above: their own rights and names, and the names in them.
constexpr uint32_t kFolderEvents = IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;

struct Watcher {
    std::mutex Mutex;
    int Fd = -1;
    // Once reading the events failed: every look says "changed".
    bool Failed = false;
    uint64_t Epoch = 1;
    // A forked child starts a queue of its own (the inherited one is its parent's to read);
    // what the parent's queue watched counts as not watched at all.
    uint64_t Generation = 1;
    // Watches where every event counts: the hives and their folders.
    std::unordered_set<int> Whole;
    // Folders above a hive's folder: only events about the folder itself, or about the names
    // that lead down to a hive, count (its other entries come and go as the user works).
    std::unordered_map<int, std::unordered_set<std::string>> Leads;
};

Watcher* gWatcher = nullptr;

void Prepare() {
    gWatcher->Mutex.lock();
}

void Parent() {
    gWatcher->Mutex.unlock();
}

void Child() {
    if (gWatcher->Fd >= 0)
        close(gWatcher->Fd);
    gWatcher->Fd = -1;
    ++gWatcher->Generation;
    ++gWatcher->Epoch;
    gWatcher->Whole.clear();
    gWatcher->Leads.clear();
    gWatcher->Mutex.unlock();
}

// Never destroyed: connections may be used during exit.
Watcher& Get() {
    static Watcher* const watcher = [] {
        gWatcher = new Watcher;
        pthread_atfork(Prepare, Parent, Child);
        return gWatcher;
    }();
    return *watcher;
}

thread_local uint64_t tCall = 1;
thread_local int tReading = 0;
thread_local uint64_t tLookedCall = 0;
thread_local uint64_t tLookedGeneration = 0;
thread_local uint64_t tLookedEpoch = 0;

// Only where every change is made through this kernel: a network file system's changes by
// other machines raise no events here.
bool LocalFileSystem(const std::string& path) {
    struct statfs fs;
    if (statfs(path.c_str(), &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0x01021994: // tmpfs
    case 0xF2F52010: // f2fs
        return true;
    default:
        return false;
    }
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// With the mutex held.
int Add(Watcher& w, const std::string& path, uint32_t events) {
    return inotify_add_watch(w.Fd, path.c_str(), events | IN_MASK_ADD);
}

// Reads every queued event; one that counts moves the epoch on. With the mutex held.
void Drain(Watcher& w) {
    constexpr size_t kLargest = sizeof(inotify_event) + NAME_MAX + 1;
    alignas(inotify_event) char buffer[16 * kLargest];
    for (;;) {
        const ssize_t got = read(w.Fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0 || errno != EAGAIN) {
                w.Failed = true;
                ++w.Epoch;
            }
            return;
        }
        bool counts = false;
        for (size_t at = 0; at + sizeof(inotify_event) <= static_cast<size_t>(got);) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += sizeof(inotify_event) + event->len;
            if (counts)
                continue;
            if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED) || w.Whole.count(event->wd)) {
                counts = true;
                continue;
            }
            auto lead = w.Leads.find(event->wd);
            counts = lead == w.Leads.end() || event->len == 0 || lead->second.count(event->name);
        }
        if (counts)
            ++w.Epoch;
        // A read that left room for another event found the queue empty: no need to ask again.
        if (static_cast<size_t>(got) + kLargest <= sizeof buffer)
            return;
    }
}

} // namespace

namespace {

// Starts the queue and watches the folder of `path` and every folder above it. With the mutex
// held; false when something could not be watched.
bool WatchFolders(Watcher& w, const std::string& path) {
    if (w.Failed)
        return false;
    if (w.Fd < 0) {
        w.Fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (w.Fd < 0)
            return false;
    }
    std::string child = FolderOf(path);
    const int folder = Add(w, child, kFolderEvents);
    if (folder < 0)
        return false;
    w.Whole.insert(folder);
    w.Leads.erase(folder);
    while (child != "/") {
        const std::string above = FolderOf(child);
        const int wd = Add(w, above, kFolderEvents);
        if (wd < 0)
            return false;
        if (!w.Whole.count(wd))
            w.Leads[wd].insert(child.substr(child.find_last_of('/') + 1));
        child = above;
    }
    return true;
}

} // namespace

uint64_t Watch(const std::string& path) {
    if (path.empty() || path[0] != '/' || !LocalFileSystem(path))
        return 0;
    Watcher& w = Get();
    std::lock_guard lock(w.Mutex);
    if (!WatchFolders(w, path))
        return 0;
    const int file = Add(w, path, kFileEvents);
    if (file < 0)
        return 0;
    w.Whole.insert(file);
    w.Leads.erase(file);
    return w.Generation;
}

uint64_t WatchName(const std::string& path) {
    if (path.empty() || path[0] != '/' || !LocalFileSystem(FolderOf(path)))
        return 0;
    Watcher& w = Get();
    std::lock_guard lock(w.Mutex);
    return WatchFolders(w, path) ? w.Generation : 0;
}

uint64_t Epoch(uint64_t watched) {
    Watcher& w = Get();
    if (tLookedCall == tCall && watched == tLookedGeneration)
        return tLookedEpoch;
    std::lock_guard lock(w.Mutex);
    if (w.Failed || w.Fd < 0 || watched != w.Generation)
        return ++w.Epoch;
    Drain(w);
    if (w.Failed)
        return w.Epoch;
    tLookedCall = tCall;
    tLookedGeneration = watched;
    tLookedEpoch = w.Epoch;
    return w.Epoch;
}

void NewCall() {
    if (tReading == 0)
        ++tCall;
}

void BeginReading() {
    if (tReading++ == 0)
        ++tCall;
}

void EndReading() {
    if (--tReading == 0)
        ++tCall;
}

} // namespace ferry::hive_watch
