#include "core/pass_worker.h"

namespace ferry {

PassWorker::~PassWorker() {
    Stop();
}

bool PassWorker::Start(Work work, Done done) {
    std::lock_guard<std::mutex> guard(Lock_);
    if (Busy_ || Stopping_)
        return false;
    if (!Thread_.joinable())
        Thread_ = std::thread([this] { Loop(); });
    Work_ = std::move(work);
    Done_ = std::move(done);
    Flag_ = std::make_shared<CancelFlag>();
    Busy_ = true;
    Wake_.notify_one();
    return true;
}

bool PassWorker::Busy() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Busy_;
}

void PassWorker::Cancel() {
    std::lock_guard<std::mutex> guard(Lock_);
    if (Flag_)
        Flag_->Cancel();
}

void PassWorker::Stop() {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Stopping_ = true;
        if (Flag_)
            Flag_->Cancel();
        Wake_.notify_one();
    }
    if (Thread_.joinable() && Thread_.get_id() != std::this_thread::get_id())
        Thread_.join();
}

void PassWorker::Loop() {
    for (;;) {
        Work work;
        Done done;
        std::shared_ptr<CancelFlag> flag;
        {
            std::unique_lock<std::mutex> guard(Lock_);
            Wake_.wait(guard, [this] { return Stopping_ || Work_; });
            if (Stopping_)
                return; // a pass handed over but not begun is dropped
            work = std::move(Work_);
            done = std::move(Done_);
            flag = Flag_;
            Work_ = nullptr;
            Done_ = nullptr;
        }
        try {
            work(*flag);
        } catch (...) {
            // A pass tells how it ended itself; nothing may end the thread.
        }
        work = nullptr; // what the pass was handed goes with it, on this thread
        {
            std::lock_guard<std::mutex> guard(Lock_);
            Busy_ = false;
            Flag_.reset();
        }
        if (done)
            done();
    }
}

} // namespace ferry
