#pragma once

// The thread the windows run their routing passes on.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "base/cancellation.h"

namespace ferry {

// The one thread routing passes run on, one pass at a time, so that the windows never wait
// for a file or a mail server. A pass is handed everything it needs when it starts, and the
// flag that calls it off; `done` runs on the worker thread once the pass is over.
class PassWorker {
public:
    using Work = std::function<void(const CancelFlag& cancel)>;
    using Done = std::function<void()>;

    PassWorker() = default;
    ~PassWorker();
    PassWorker(const PassWorker&) = delete;
    PassWorker& operator=(const PassWorker&) = delete;

    // Starts a pass. False, and nothing runs, while another one is under way or once the
    // worker has stopped. The thread is made at the first start.
    bool Start(Work work, Done done);
    bool Busy() const;
    // Calls off the running pass: its waits on the network give up, a long scan stops between
    // two blocks, and no further file is begun. A move already under way is finished.
    void Cancel();
    // Cancels and waits for the thread to end; nothing starts afterwards.
    void Stop();

    std::thread::id ThreadId() const { return Thread_.get_id(); }

private:
    void Loop();

    mutable std::mutex Lock_;
    std::condition_variable Wake_;
    Work Work_;
    Done Done_;
    std::shared_ptr<CancelFlag> Flag_; // the running pass's
    bool Busy_ = false;
    bool Stopping_ = false;
    std::thread Thread_;
};

} // namespace ferry
