#pragma once

// A connect with a time limit, on a thread of its own.

#include "net/socket_handle.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace ferry {

// Runs one blocking connect on its own thread so the caller can give up after a time limit.
class TIdConnectThread {
public:
    explicit TIdConnectThread(TIdSocketHandle* binding) : Binding_(binding) {}
    ~TIdConnectThread();

    void Start();
    void Terminate() { TerminateRequested_ = true; }
    void WaitFor();
    // Set once the connect has ended, successfully or not.
    bool Terminated() const { return Terminated_; }
    // Waits until the connect has ended or timeoutMs has passed (negative: no limit);
    // true when it has ended.
    bool WaitTerminated(int timeoutMs);

    // Socket error code of the failed connect (0 when none or not a socket error).
    int LastSocketError = 0;
    // Message of the error that ended the connect; empty when it succeeded.
    std::string ExceptionMessage;

private:
    void Execute();

    TIdSocketHandle* Binding_;
    std::thread Thread_;
    std::atomic<bool> Terminated_{false};
    std::atomic<bool> TerminateRequested_{false};
    std::mutex Lock_;
    std::condition_variable Ended_;
};

} // namespace ferry
