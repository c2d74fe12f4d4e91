#include "mail/smtp_io_handler.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "net/id_errors.h"

namespace ferry {

void TIdIOHandlerPromptConnect::ConnectPeer() {
    const int limit = ConnectTimeout;
    if (limit <= 0) {
        TIdIOHandlerStack::ConnectPeer();
        return;
    }

    // The connect runs on this thread; a watchdog wakes it when the limit has passed. After
    // that the watchdog keeps waking whatever socket is being connected, so a limit that ran
    // out during the name lookup still ends the connect that follows it.
    std::mutex lock;
    std::condition_variable changed;
    bool finished = false;
    bool expired = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (changed.wait_for(guard, std::chrono::milliseconds(limit), [&] { return finished; }))
            return;
        expired = true;
        do {
            // Under the lock: this thread cannot close the socket meanwhile.
            if (Binding())
                Binding()->AbortPendingConnect();
        } while (!changed.wait_for(guard, std::chrono::milliseconds(20), [&] { return finished; }));
    });
    auto finish = [&] {
        {
            std::lock_guard<std::mutex> guard(lock);
            finished = true;
        }
        changed.notify_all();
        watchdog.join();
        ConnectTimeout = limit;
    };

    ConnectTimeout = 0; // connect directly; the watchdog is the limit
    try {
        TIdIOHandlerStack::ConnectPeer();
    } catch (...) {
        finish();
        if (!expired)
            throw;
        Close();
        throw EIdConnectTimeout();
    }
    finish();
    if (expired) { // the limit ran out just as the connect succeeded: the socket was woken
        Close();
        throw EIdConnectTimeout();
    }
}

} // namespace ferry
