#include "net/connect_thread.h"

#include "net/id_errors.h"
#include "net/socket_errors.h"

namespace ferry {

TIdConnectThread::~TIdConnectThread() {
    WaitFor();
}

void TIdConnectThread::Start() {
    Thread_ = std::thread([this] { Execute(); });
}

void TIdConnectThread::WaitFor() {
    if (Thread_.joinable())
        Thread_.join();
}

void TIdConnectThread::Execute() {
    try {
        Binding_->Connect();
    } catch (const EIdSocketError& e) {
        // The caller closed the socket under the connect: that is its timeout, not an error.
        if (e.Code != wsa::EBADF_ && e.Code != wsa::ENOTSOCK_) {
            LastSocketError = e.Code;
            ExceptionMessage = e.message();
        }
    } catch (const std::exception& e) {
        ExceptionMessage = e.what();
    }
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Terminated_ = true;
    }
    Ended_.notify_all();
}

bool TIdConnectThread::WaitTerminated(int timeoutMs) {
    std::unique_lock<std::mutex> guard(Lock_);
    auto ended = [this] { return Terminated_.load(); };
    if (timeoutMs < 0) {
        Ended_.wait(guard, ended);
        return true;
    }
    return Ended_.wait_for(guard, std::chrono::milliseconds(timeoutMs), ended);
}

} // namespace ferry
