#pragma once

// Calling off work that runs on another thread: the flag its waits look at.

#include <atomic>
#include <memory>

#include "base/exception.h"

namespace ferry {

// Raised by a wait that gives up because the work of its thread was called off (the program
// is ending). It never reaches the user: whoever called the work off no longer wants it.
class EOperationCancelled : public Exception {
public:
    EOperationCancelled() : Exception("Operation cancelled") {}
};

// A request to give up, set by one thread and seen by the waits of another.
class CancelFlag {
public:
    void Cancel() { Set_.store(true, std::memory_order_release); }
    bool Cancelled() const { return Set_.load(std::memory_order_acquire); }

private:
    std::atomic<bool> Set_{false};
};

// Makes `flag` the one the calling thread's waits look at, for the life of the object.
class ScopedCancelFlag {
public:
    explicit ScopedCancelFlag(std::shared_ptr<const CancelFlag> flag);
    // The same for a flag that outlives the scope.
    explicit ScopedCancelFlag(const CancelFlag& flag);
    ~ScopedCancelFlag();
    ScopedCancelFlag(const ScopedCancelFlag&) = delete;
    ScopedCancelFlag& operator=(const ScopedCancelFlag&) = delete;

private:
    std::shared_ptr<const CancelFlag> Previous_;
};

// Whether the calling thread has a flag at all: only then do its waits wake to look at it.
bool ThreadCancellable();
// Whether the calling thread's work has been called off; false on a thread without a flag.
bool ThreadCancelled();
// Raises EOperationCancelled when ThreadCancelled().
void ThrowIfThreadCancelled();

// How long a cancellable wait sleeps at most before it looks at the flag again.
inline constexpr int CancelPollMs = 50;

} // namespace ferry
