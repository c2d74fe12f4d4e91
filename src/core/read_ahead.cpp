#include "core/read_ahead.h"

#include "core/content_matcher.h"
#include "platform/exclusive_open.h"
#include "platform/file_move.h"
#include "platform/files.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ferry {

namespace {

// The two threads hand each file over within microseconds of each other, so each waits by
// looking for a moment before it sleeps: a sleep and a wake-up would cost more system calls
// than the rest of a file's move.
constexpr auto kSpin = std::chrono::microseconds(50);

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

struct ReadAhead::State {
    const std::string& Folder;
    const std::vector<std::string>& Names;
    const std::string& Match;
    const bool CaseSensitive;
    const std::string Destination;
    MoveBatch* Batch;
    std::size_t Ahead = Depth; // the thread's own

    // How many files the thread has read ahead and handed over, and how many the pass has
    // taken: file i is read once i + 1 - Ahead files were taken, and taken once i + 1 were
    // handed over.
    std::atomic<std::size_t> Handed{0};
    std::atomic<std::size_t> Taken{0};
    std::atomic<bool> Stop{false};
    std::atomic<int> Sleepers{0};
    std::mutex Mutex;
    std::condition_variable Wake;
    // Under Mutex: the files handed over and not taken yet, file i at i % CopyDepth (null when
    // the pass is to read it).
    std::unique_ptr<Scanned> Items[CopyDepth];

    // Descriptors the pass is done with, for the thread to close: one writer, one reader.
    struct Closing {
        int Fd;
        bool Lease;
    };
    static constexpr std::size_t kClosings = 256;
    Closing Closings[kClosings] = {};
    std::atomic<std::size_t> Queued{0};
    std::atomic<std::size_t> Closed{0};

    std::thread Thread;

    State(const std::string& folder, const std::vector<std::string>& names,
          const std::string& match, bool caseSensitive, const std::string& destination,
          MoveBatch* batch)
        : Folder(folder), Names(names), Match(match), CaseSensitive(caseSensitive),
          Destination(destination), Batch(batch) {}

    void WakeOther() {
        if (Sleepers.load() > 0) {
            std::lock_guard lock(Mutex);
            Wake.notify_all();
        }
    }

    // From the pass; false when the queue is full and the caller must close it.
    bool Queue(int fd, bool lease) {
        const std::size_t queued = Queued.load(std::memory_order_relaxed);
        if (queued - Closed.load(std::memory_order_acquire) == kClosings)
            return false;
        Closings[queued % kClosings] = {fd, lease};
        Queued.store(queued + 1); // ordered before WakeOther's look at Sleepers
        return true;
    }

    // On the thread, and once it has ended.
    void CloseQueued() {
        std::size_t closed = Closed.load(std::memory_order_relaxed);
        const std::size_t queued = Queued.load(std::memory_order_acquire);
        for (; closed != queued; ++closed) {
            const Closing& c = Closings[closed % kClosings];
            CloseLeased(c.Fd, c.Lease);
            Closed.store(closed + 1, std::memory_order_release);
        }
    }

    // Waits until `ready()`; `asleep` runs every millisecond of sleep, under Mutex.
    template <typename Ready, typename Asleep> void WaitUntil(Ready ready, Asleep asleep) {
        const auto until = std::chrono::steady_clock::now() + kSpin;
        for (int n = 0; !ready(); ++n) {
            Pause();
            if ((n & 63) == 63 && std::chrono::steady_clock::now() > until)
                break;
        }
        if (ready())
            return;
        std::unique_lock lock(Mutex);
        ++Sleepers;
        while (!ready())
            if (Wake.wait_for(lock, std::chrono::milliseconds(1)) == std::cv_status::timeout)
                asleep();
        --Sleepers;
    }

    // Null for a file left to the pass: one that cannot be opened, read or leased (which the
    // pass then finds out and reports as ever), a large one, a move's own temporary.
    std::unique_ptr<Scanned> Read(std::size_t index, bool& leases) {
        const std::string path = Folder + Names[index];
        if (!leases || Match.empty() || IsMoveTemporary(path))
            return nullptr;
        try {
            auto item = std::make_unique<Scanned>();
            item->File = std::make_unique<ReadOnlyFile>(path, ReadOnlyFile::Purpose::ForMove);
            const ReadOnlyFile::Lease lease = item->File->LeaseAsOpened();
            if (lease != ReadOnlyFile::Lease::Held) {
                // Without leases here (not the user's files, a file system without them)
                // nothing could show a scan made ahead to still stand.
                if (lease == ReadOnlyFile::Lease::None)
                    leases = false;
                return nullptr;
            }
            if (item->File->Size() > MaxSize)
                return nullptr;
            item->Result = ScanOpenFile(*item->File, Match, CaseSensitive);
            if (item->Result >= 0 && Batch) {
                item->Copy = Batch->Prepare(*item->File, Destination);
                if (item->Copy)
                    Ahead = CopyDepth;
            }
            return item;
        } catch (...) {
            return nullptr;
        }
    }

    // Under Mutex: the files handed over, up to `handed`, and not taken yet give their leases
    // up to whoever opened them meanwhile.
    void LetOpenersIn(std::size_t handed) {
        for (std::size_t i = Taken.load(); i < handed; ++i)
            if (const auto& item = Items[i % CopyDepth])
                item->File->LeaseState();
    }

    void Run() {
        bool leases = true;
        auto nextLook = std::chrono::steady_clock::now();
        for (std::size_t index = 0; index < Names.size(); ++index) {
            // While the files handed over wait for their turn, whoever opens one is let in at
            // once (its lease turns Refused, and the pass reads it again at its turn).
            WaitUntil(
                [&] {
                    CloseQueued();
                    return Stop.load() || Taken.load() + Ahead > index;
                },
                [&] { LetOpenersIn(index); });
            if (Stop.load())
                return;
            if (Ahead > Depth && std::chrono::steady_clock::now() >= nextLook) {
                // Many files wait under their leases while this one is read and copied: whoever
                // opened one meanwhile waits a millisecond and one file's work at most.
                std::lock_guard lock(Mutex);
                LetOpenersIn(index);
                nextLook = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
            }
            std::unique_ptr<Scanned> item = Read(index, leases);
            {
                std::lock_guard lock(Mutex);
                Items[index % CopyDepth] = std::move(item);
            }
            Handed.store(index + 1);
            WakeOther();
        }
        // Every file is handed over: what is left is closing for the pass.
        WaitUntil(
            [&] {
                CloseQueued();
                return Stop.load();
            },
            [&] { LetOpenersIn(Names.size()); });
    }
};

ReadAhead::ReadAhead(const std::string& folder, const std::vector<std::string>& names,
                     const std::string& matchString, bool caseSensitive,
                     const std::string& destination, MoveBatch* batch)
    : State_(
          std::make_unique<State>(folder, names, matchString, caseSensitive, destination, batch)) {
    State_->Thread = std::thread([state = State_.get()] { state->Run(); });
}

ReadAhead::~ReadAhead() {
    State_->Stop.store(true);
    {
        std::lock_guard lock(State_->Mutex);
        State_->Wake.notify_all();
    }
    State_->Thread.join();
    State_->CloseQueued();
}

void ReadAhead::Close(int fd, bool lease) {
    State& st = *State_;
    if (!st.Queue(fd, lease)) {
        CloseLeased(fd, lease);
        return;
    }
    st.WakeOther();
}

std::unique_ptr<ReadAhead::Scanned> ReadAhead::Take(std::size_t index) {
    State& st = *State_;
    st.WaitUntil([&] { return st.Handed.load() > index; }, [] {});
    std::unique_ptr<Scanned> item;
    {
        std::lock_guard lock(st.Mutex);
        item = std::move(st.Items[index % CopyDepth]);
    }
    st.Taken.store(index + 1);
    st.WakeOther();
    // Whether anyone opened the file since is asked by the move, which takes its lease.
    return item;
}

} // namespace ferry
