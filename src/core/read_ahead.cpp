#include "core/read_ahead.h"

#include "core/case_sensitive_match.h"
#include "core/content_matcher.h"
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
    const bool* CaseSensitive;

    // How many files the thread has read ahead and handed over, and how many the pass has
    // taken: file i is read once i files were taken, and taken once i + 1 were handed over.
    std::atomic<std::size_t> Handed{0};
    std::atomic<std::size_t> Taken{0};
    std::atomic<bool> Stop{false};
    std::atomic<int> Sleepers{0};
    std::mutex Mutex;
    std::condition_variable Wake;
    // Under Mutex: the file handed over and not taken yet (null when the pass is to read it).
    std::unique_ptr<Scanned> Item;
    bool Exact = false;

    std::thread Thread;

    State(const std::string& folder, const std::vector<std::string>& names,
          const std::string& match, const bool* caseSensitive)
        : Folder(folder), Names(names), Match(match), CaseSensitive(caseSensitive) {}

    void WakeOther() {
        if (Sleepers.load() > 0) {
            std::lock_guard lock(Mutex);
            Wake.notify_all();
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
    std::unique_ptr<Scanned> Read(std::size_t index, bool exact, bool& leases) {
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
            item->Result = ScanOpenFile(*item->File, Match, exact);
            return item;
        } catch (...) {
            return nullptr;
        }
    }

    void Run() {
        bool leases = true;
        for (std::size_t index = 0; index < Names.size(); ++index) {
            // While the file handed over last waits for its turn, whoever opens it is let in
            // at once (its lease turns Refused, and the pass reads it again at its turn).
            WaitUntil([&] { return Stop.load() || Taken.load() >= index; },
                      [&] {
                          if (Item && Taken.load() < index)
                              Item->File->LeaseState();
                      });
            if (Stop.load())
                return;
            const bool exact = CaseSensitive ? *CaseSensitive : CaseSensitiveMatch.load();
            std::unique_ptr<Scanned> item = Read(index, exact, leases);
            {
                std::lock_guard lock(Mutex);
                Item = std::move(item);
                Exact = exact;
            }
            Handed.store(index + 1);
            WakeOther();
        }
    }
};

ReadAhead::ReadAhead(const std::string& folder, const std::vector<std::string>& names,
                     const std::string& matchString, const bool* caseSensitive)
    : State_(std::make_unique<State>(folder, names, matchString, caseSensitive)) {
    State_->Thread = std::thread([state = State_.get()] { state->Run(); });
}

ReadAhead::~ReadAhead() {
    State_->Stop.store(true);
    {
        std::lock_guard lock(State_->Mutex);
        State_->Wake.notify_all();
    }
    State_->Thread.join();
}

std::unique_ptr<ReadAhead::Scanned> ReadAhead::Take(std::size_t index, bool exact) {
    State& st = *State_;
    st.WaitUntil([&] { return st.Handed.load() > index; }, [] {});
    std::unique_ptr<Scanned> item;
    bool scannedExact = false;
    {
        std::lock_guard lock(st.Mutex);
        item = std::move(st.Item);
        scannedExact = st.Exact;
    }
    st.Taken.store(index + 1);
    st.WakeOther();
    // Whether anyone opened the file since is asked by the move, which takes its lease.
    if (!item || scannedExact != exact)
        return nullptr;
    return item;
}

} // namespace ferry
