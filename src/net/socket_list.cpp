#include "net/socket_list.h"

#include "net/id_errors.h"
#include "net/socket_errors.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace ferry {

TIdSocketListLinux::TIdSocketListLinux(const TIdSocketListLinux& other) {
    std::lock_guard<std::mutex> guard(other.Lock_);
    Handles_ = other.Handles_;
}

void TIdSocketListLinux::Add(TIdStackSocketHandle handle) {
    std::lock_guard<std::mutex> guard(Lock_);
    if (std::find(Handles_.begin(), Handles_.end(), handle) != Handles_.end())
        return;
    if (static_cast<int>(Handles_.size()) >= MaxHandles)
        throw EIdStackSetSizeExceeded();
    Handles_.push_back(handle);
}

void TIdSocketListLinux::Remove(TIdStackSocketHandle handle) {
    std::lock_guard<std::mutex> guard(Lock_);
    Handles_.erase(std::remove(Handles_.begin(), Handles_.end(), handle), Handles_.end());
}

bool TIdSocketListLinux::Contains(TIdStackSocketHandle handle) const {
    std::lock_guard<std::mutex> guard(Lock_);
    return std::find(Handles_.begin(), Handles_.end(), handle) != Handles_.end();
}

int TIdSocketListLinux::Count() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return static_cast<int>(Handles_.size());
}

void TIdSocketListLinux::Clear() {
    std::lock_guard<std::mutex> guard(Lock_);
    Handles_.clear();
}

bool TIdSocketListLinux::SelectRead(int timeoutMs) {
    std::vector<pollfd> fds;
    {
        std::lock_guard<std::mutex> guard(Lock_);
        for (auto h : Handles_)
            fds.push_back(pollfd{h, POLLIN, 0});
    }
    int result;
    do {
        result = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        ReportSocketError(WinsockCodeFromErrno(errno));
    std::lock_guard<std::mutex> guard(Lock_);
    Handles_.clear();
    for (const auto& p : fds)
        if (p.revents != 0)
            Handles_.push_back(p.fd);
    return !Handles_.empty();
}

} // namespace ferry
