#pragma once

// Keeps a second copy of the program without a desktop off a settings store that one such
// copy already serves: two of them would route the same folders twice. The lock is an flock
// on a file beside the hives, holding the holder's process id so that the refused copy can
// name it; the system lets go of it when the holder ends, however it ends.

#include <string>
#include <sys/types.h>

namespace ferry {

class InstanceLock {
public:
    enum class Result {
        Taken,       // ours until Release or the end of the process
        HeldByOther, // Holder() tells by whom (0 when it could not be read)
        Unavailable, // the lock file cannot be made or opened; Error() tells why
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock at `path` (made, with its folders, when missing), without waiting.
    Result Take(const std::string& path);
    void Release();

    pid_t Holder() const { return Holder_; }
    int Error() const { return Error_; }

private:
    int Fd_ = -1;
    pid_t Holder_ = 0;
    int Error_ = 0;
};

// The lock of the settings store in use: beside its hives.
std::string HeadlessLockPath();

} // namespace ferry
