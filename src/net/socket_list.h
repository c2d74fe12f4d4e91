#pragma once

// A set of socket handles, for waiting on several at once.

#include "net/id_global.h"

#include <mutex>
#include <vector>

namespace ferry {

// A set of socket handles with its own lock.
class TIdSocketList {
public:
    virtual ~TIdSocketList() = default;
    virtual void Add(TIdStackSocketHandle handle) = 0;
    virtual void Remove(TIdStackSocketHandle handle) = 0;
    virtual bool Contains(TIdStackSocketHandle handle) const = 0;
    virtual int Count() const = 0;
    virtual void Clear() = 0;
    // Waits until at least one member is readable (-2: without limit) and keeps only the
    // readable members; false when none became readable in time.
    virtual bool SelectRead(int timeoutMs) = 0;
};

// The set as this platform keeps it. It holds at most 64 handles, as the Winsock fd_set the
// transport was designed around; unlike a POSIX fd_set it is waited on with poll, so any
// descriptor number is safe.
class TIdSocketListLinux : public TIdSocketList {
public:
    static constexpr int MaxHandles = 64;

    TIdSocketListLinux() = default;
    TIdSocketListLinux(const TIdSocketListLinux& other);

    void Add(TIdStackSocketHandle handle) override;
    void Remove(TIdStackSocketHandle handle) override;
    bool Contains(TIdStackSocketHandle handle) const override;
    int Count() const override;
    void Clear() override;
    bool SelectRead(int timeoutMs) override;

private:
    mutable std::mutex Lock_;
    std::vector<TIdStackSocketHandle> Handles_;
};

} // namespace ferry
