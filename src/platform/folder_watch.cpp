#include "platform/folder_watch.h"

#include "base/exception.h"
#include "platform/exclusive_open.h"
#include "platform/file_system_origin.h"
#include "platform/system_errors.h"
#include "platform/temporary_names.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace ferry {

namespace {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
constexpr TimePoint Never = TimePoint::max();

// Closes after writing and moves in make a file a candidate, and so does a new name: one
// linked in (a move from another file system links its finished copy) raises nothing else,
// and a file just created by a writer is found open at its look and waits for its close.
// Moves out and deletions end a wait. Closes without writing matter only for a file found
// open elsewhere: one may be its holder letting go. No IN_MODIFY: a file being written would
// wake us at every write, and its close says more.
constexpr uint32_t FolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MOVED_FROM |
                                  IN_DELETE | IN_CLOSE_NOWRITE | IN_DELETE_SELF | IN_MOVE_SELF |
                                  IN_ONLYDIR | IN_EXCL_UNLINK;

enum class Look { Ready, Busy, Gone };

// The pass's own rule: a file is taken only while no other process has it open. Anything
// else the pass would report (no right to read it, ...) is for the pass to report.
Look LookAt(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Look::Gone : Look::Ready;
    if (!S_ISREG(st.st_mode)) // never opened: a FIFO or a device could block or react
        return Look::Gone;
    ExclusiveOpen file;
    switch (file.Open(path)) {
    case ERROR_SHARING_VIOLATION:
        return Look::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return Look::Gone;
    default:
        return Look::Ready;
    }
}

struct Waiting {
    uint64_t Order = 0;
    TimePoint Due = Never;
    bool Busy = false;
    int BusyChecks = 0;
    // Closes of our own looks at a busy file whose events are still to come: not a holder's.
    int OwnCloses = 0;
};

struct Folder {
    std::string Name;
    FolderWatchState State = FolderWatchState::Missing;
    int Error = 0;
    std::string FileSystem;
    bool Reported = false;
    // Tried once: a later watch may have missed files, so its folder is passed whole.
    bool Tried = false;
    int Wd = -1;
    dev_t Dev = 0;
    ino_t Ino = 0;
    bool Whole = false;
    TimePoint WholeDue = Never;
    std::unordered_map<std::string, Waiting> Names;
};

std::string PathIn(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool SameFolder(const std::string& path, dev_t dev, ino_t ino) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

} // namespace

std::string WatchedFolderName(const std::string& folder) {
    std::string name = folder;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    return name;
}

struct FolderWatch::Impl {
    FolderWatchOptions Options;
    int Epoll = -1;
    int Inotify = -1;
    int InotifyError = 0;
    int WakeFd = -1;
    int Mounts = -1;
    std::vector<std::unique_ptr<Folder>> Folders;
    std::unordered_map<int, std::vector<Folder*>> ByWd;
    TimePoint MissingDue = Never;
    uint64_t NextOrder = 0;
    std::vector<ReadyFiles> Ready;
    std::vector<FolderWatchStatus> Changed;

    // Deadlines fall on a grid of half the settle time, so that files closed close together
    // are looked at in one wake-up and passed in one batch.
    TimePoint After(TimePoint now, Clock::duration wait) const {
        const auto step =
            std::max<Clock::duration>(Options.Settle / 2, std::chrono::milliseconds(1));
        const auto at = (now + wait).time_since_epoch();
        return TimePoint((at + step - Clock::duration(1)) / step * step);
    }

    void SetState(Folder& f, FolderWatchState state, int error = 0, const std::string& fs = {}) {
        if (f.Reported && f.State == state && f.Error == error && f.FileSystem == fs)
            return;
        f.State = state;
        f.Error = error;
        f.FileSystem = fs;
        f.Reported = true;
        Changed.push_back({f.Name, state, error, fs});
    }

    void Unwatch(Folder& f) {
        f.Names.clear();
        f.Whole = false;
        f.WholeDue = Never;
        if (f.Wd < 0)
            return;
        auto it = ByWd.find(f.Wd);
        if (it != ByWd.end()) {
            std::erase(it->second, &f);
            // The same folder under another name keeps the kernel's watch.
            if (it->second.empty()) {
                ByWd.erase(it);
                inotify_rm_watch(Inotify, f.Wd);
            }
        }
        f.Wd = -1;
    }

    void TryWatch(Folder& f, TimePoint now) {
        const bool again = f.Tried;
        f.Tried = true;
        if (Inotify < 0) {
            const bool limit = InotifyError == EMFILE || InotifyError == ENFILE;
            SetState(f, limit ? FolderWatchState::LimitReached : FolderWatchState::Failed,
                     InotifyError);
            return;
        }
        struct stat st;
        if (stat(f.Name.c_str(), &st) != 0) {
            const int err = errno;
            if (err == ENOENT || err == ENOTDIR)
                SetState(f, FolderWatchState::Missing);
            else
                SetState(f, FolderWatchState::Failed, err);
            return;
        }
        if (!S_ISDIR(st.st_mode)) { // a folder may yet take its place
            SetState(f, FolderWatchState::Missing);
            return;
        }
        std::string kind;
        int err = 0;
        if (OnSharedFileSystem(f.Name, kind, err)) {
            SetState(f, FolderWatchState::Shared, 0, kind);
            return;
        }
        if (err != 0) {
            SetState(f, FolderWatchState::Failed, err);
            return;
        }
        const int wd = inotify_add_watch(Inotify, f.Name.c_str(), FolderEvents);
        if (wd < 0) {
            err = errno;
            if (err == ENOSPC)
                SetState(f, FolderWatchState::LimitReached, err);
            else if (err == ENOENT || err == ENOTDIR)
                SetState(f, FolderWatchState::Missing);
            else
                SetState(f, FolderWatchState::Failed, err);
            return;
        }
        f.Wd = wd;
        ByWd[wd].push_back(&f);
        // The folder watched is the one now at the path, whatever stat saw before.
        if (stat(f.Name.c_str(), &st) == 0) {
            f.Dev = st.st_dev;
            f.Ino = st.st_ino;
        }
        SetState(f, FolderWatchState::Watched);
        if (again)
            PassWhole(f, now);
    }

    void PassWhole(Folder& f, TimePoint now) {
        if (!f.Whole) {
            f.Whole = true;
            f.WholeDue = After(now, Options.Settle);
        }
        // The whole pass covers every candidate; a file open elsewhere still waits for its
        // holder, but which closes were ours can no longer be told.
        std::erase_if(f.Names, [](const auto& entry) { return !entry.second.Busy; });
        for (auto& [name, w] : f.Names)
            w.OwnCloses = 0;
    }

    // The folder at the path is not the one watched any more (removed, moved away, mounted
    // over or unmounted): watch whatever is there now, or look for it every few seconds.
    void LoseFolder(Folder& f, TimePoint now) {
        Unwatch(f);
        TryWatch(f, now);
        ScheduleMissing(now);
    }

    void ScheduleMissing(TimePoint now) {
        const bool missing = std::any_of(Folders.begin(), Folders.end(), [](const auto& f) {
            return f->State == FolderWatchState::Missing;
        });
        if (!missing)
            MissingDue = Never;
        else if (MissingDue == Never)
            MissingDue = After(now, Options.MissingRecheck);
    }

    void OnName(Folder& f, const std::string& name, uint32_t mask, TimePoint now) {
        if (mask & (IN_MOVED_FROM | IN_DELETE)) {
            f.Names.erase(name);
            return;
        }
        if (mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE)) {
            if (f.Whole || IsTemporaryName(name))
                return;
            Waiting& w = f.Names[name];
            w = Waiting{NextOrder++, After(now, Options.Settle)};
            if (f.Names.size() > Options.PendingLimit)
                PassWhole(f, now);
            return;
        }
        if (mask & IN_CLOSE_NOWRITE) {
            auto it = f.Names.find(name);
            if (it == f.Names.end() || !it->second.Busy)
                return;
            Waiting& w = it->second;
            if (w.OwnCloses > 0)
                --w.OwnCloses;
            else
                w.Due = std::min(w.Due, After(now, Options.Settle));
        }
    }

    void OnEvent(const inotify_event& event, TimePoint now) {
        if (event.mask & IN_Q_OVERFLOW) {
            for (auto& f : Folders)
                if (f->State == FolderWatchState::Watched)
                    PassWhole(*f, now);
            return;
        }
        auto it = ByWd.find(event.wd);
        if (it == ByWd.end()) // a watch we removed ourselves
            return;
        const std::vector<Folder*> folders = it->second;
        if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED)) {
            for (Folder* f : folders)
                LoseFolder(*f, now);
            return;
        }
        if (event.len == 0 || (event.mask & IN_ISDIR))
            return;
        const std::string name(event.name);
        for (Folder* f : folders)
            OnName(*f, name, event.mask, now);
    }

    void ReadEvents(TimePoint now) {
        if (Inotify < 0)
            return;
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = read(Inotify, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return;
            for (size_t at = 0; at + sizeof(inotify_event) <= static_cast<size_t>(got);) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += sizeof(inotify_event) + event->len;
                OnEvent(*event, now);
            }
        }
    }

    // Mounts changed, or may have: every watched folder must still be the one at its path,
    // and a folder that could not be watched may be watchable now.
    void Revalidate(TimePoint now) {
        for (auto& f : Folders) {
            if (f->State != FolderWatchState::Watched)
                TryWatch(*f, now);
            else if (!SameFolder(f->Name, f->Dev, f->Ino))
                LoseFolder(*f, now);
        }
        ScheduleMissing(now);
    }

    void DoDue(Folder& f, TimePoint now) {
        if (f.State != FolderWatchState::Watched)
            return;
        bool whole = false;
        if (f.Whole && f.WholeDue <= now) {
            whole = true;
            f.Whole = false;
            f.WholeDue = Never;
        }
        std::vector<std::pair<uint64_t, std::string>> due;
        for (const auto& [name, w] : f.Names)
            if (w.Due <= now)
                due.emplace_back(w.Order, name);
        if (!whole && due.empty())
            return;
        // Names reported for a folder that is no longer the one at the path would be looked
        // for in the wrong place.
        if (!SameFolder(f.Name, f.Dev, f.Ino)) {
            LoseFolder(f, now);
            return;
        }
        if (whole)
            Ready.push_back({f.Name, {}, true});
        std::sort(due.begin(), due.end());
        ReadyFiles batch{f.Name, {}, false};
        for (const auto& [order, name] : due) {
            auto it = f.Names.find(name);
            Waiting& w = it->second;
            switch (LookAt(PathIn(f.Name, name))) {
            case Look::Ready:
                batch.Names.push_back(name);
                f.Names.erase(it);
                break;
            case Look::Gone:
                f.Names.erase(it);
                break;
            case Look::Busy:
                w.Busy = true;
                // Our look opened and closed it; only where another copy's lease refused the
                // open is a holder's close taken for ours, and then the re-checks still come.
                ++w.OwnCloses;
                ++w.BusyChecks;
                w.Due = w.BusyChecks > Options.BusyRechecks
                            ? Never
                            : After(now, Options.BusyRecheck * (1 << (w.BusyChecks - 1)));
                break;
            }
        }
        if (!batch.Names.empty())
            Ready.push_back(std::move(batch));
    }

    bool DrainWake() {
        uint64_t count = 0;
        return read(WakeFd, &count, sizeof count) == sizeof count;
    }

    FolderWatchNews Handle(bool mountsMayHaveChanged) {
        const TimePoint now = Clock::now();
        FolderWatchNews news;
        news.Woken = DrainWake();
        ReadEvents(now);
        if (mountsMayHaveChanged)
            Revalidate(now);
        if (MissingDue <= now) {
            MissingDue = Never;
            for (auto& f : Folders)
                if (f->State == FolderWatchState::Missing)
                    TryWatch(*f, now);
            ScheduleMissing(now);
        }
        for (auto& f : Folders)
            DoDue(*f, now);
        news.Ready = std::move(Ready);
        news.Changed = std::move(Changed);
        Ready.clear();
        Changed.clear();
        return news;
    }

    TimePoint NextDue() const {
        TimePoint next = MissingDue;
        for (const auto& f : Folders) {
            if (f->State != FolderWatchState::Watched)
                continue;
            next = std::min(next, f->WholeDue);
            for (const auto& [name, w] : f->Names)
                next = std::min(next, w.Due);
        }
        return next;
    }
};

FolderWatch::FolderWatch(const FolderWatchOptions& options) : I_(std::make_unique<Impl>()) {
    I_->Options = options;
    I_->Epoll = epoll_create1(EPOLL_CLOEXEC);
    I_->WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (I_->Epoll < 0 || I_->WakeFd < 0) {
        const int err = errno;
        if (I_->Epoll >= 0)
            close(I_->Epoll);
        throw Exception(std::string("Cannot watch folders: ") + std::strerror(err));
    }
    I_->Inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (I_->Inotify < 0)
        I_->InotifyError = errno;
    // The mount table reports a change as a priority event: a folder mounted over, or a
    // source that lives on a medium mounted later.
    I_->Mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    for (const auto& [fd, events] :
         {std::pair{I_->Inotify, EPOLLIN}, std::pair{I_->WakeFd, EPOLLIN},
          std::pair{I_->Mounts, EPOLLPRI}}) {
        if (fd < 0)
            continue;
        epoll_event ev{};
        ev.events = events;
        ev.data.fd = fd;
        epoll_ctl(I_->Epoll, EPOLL_CTL_ADD, fd, &ev);
    }
}

FolderWatch::~FolderWatch() {
    for (int fd : {I_->Epoll, I_->Inotify, I_->WakeFd, I_->Mounts})
        if (fd >= 0)
            close(fd);
}

void FolderWatch::SetFolders(const std::vector<std::string>& folders) {
    const TimePoint now = Clock::now();
    std::vector<std::string> wanted;
    for (const std::string& folder : folders) {
        std::string name = WatchedFolderName(folder);
        if (!name.empty() && std::find(wanted.begin(), wanted.end(), name) == wanted.end())
            wanted.push_back(std::move(name));
    }
    std::vector<std::unique_ptr<Folder>> kept;
    for (auto& f : I_->Folders) {
        if (std::find(wanted.begin(), wanted.end(), f->Name) == wanted.end())
            I_->Unwatch(*f);
        else
            kept.push_back(std::move(f));
    }
    // Watches given back may leave room for folders that met the limit.
    for (auto& f : kept)
        if (f->State == FolderWatchState::LimitReached || f->State == FolderWatchState::Failed)
            I_->TryWatch(*f, now);
    I_->Folders.clear();
    for (const std::string& name : wanted) {
        auto it = std::find_if(kept.begin(), kept.end(),
                               [&](const auto& f) { return f && f->Name == name; });
        if (it != kept.end()) {
            I_->Folders.push_back(std::move(*it));
            continue;
        }
        auto f = std::make_unique<Folder>();
        f->Name = name;
        I_->TryWatch(*f, now);
        I_->Folders.push_back(std::move(f));
    }
    I_->ScheduleMissing(now);
}

std::vector<FolderWatchStatus> FolderWatch::Statuses() const {
    std::vector<FolderWatchStatus> statuses;
    for (const auto& f : I_->Folders)
        statuses.push_back({f->Name, f->State, f->Error, f->FileSystem});
    return statuses;
}

int FolderWatch::Fd() const {
    return I_->Epoll;
}

int FolderWatch::TimeoutMs() const {
    const TimePoint next = I_->NextDue();
    if (next == Never)
        return -1;
    const auto left = next - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

FolderWatchNews FolderWatch::Process() {
    // Driven from another loop, whose poll of Fd() may already have taken the mount table's
    // one-time signal: look at the folders every time.
    return I_->Handle(true);
}

FolderWatchNews FolderWatch::Wait(int limitMs) {
    int timeout = TimeoutMs();
    if (limitMs >= 0 && (timeout < 0 || limitMs < timeout))
        timeout = limitMs;
    epoll_event events[4];
    const int n = epoll_wait(I_->Epoll, events, 4, timeout);
    bool mounts = false;
    for (int i = 0; i < n; ++i)
        mounts = mounts || events[i].data.fd == I_->Mounts;
    return I_->Handle(mounts);
}

void FolderWatch::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(I_->WakeFd, &one, sizeof one);
}

} // namespace ferry
