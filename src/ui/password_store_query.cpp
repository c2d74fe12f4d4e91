#include "ui/password_store_query.h"

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "mail/password_source.h"
#include "ui/guard.h"

namespace ferry {

namespace {

// How often the user-interface thread looks for the worker's end.
const int kPollMs = 10;

TStoreAnswer Ask(const std::string& server, const std::string& user) {
    using S = TStoreAnswer::TState;
    auto source = MailPasswordSource();
    if (!source)
        return {S::Missing, "No password store is available."};
    try {
        source->CheckReachable();
        if (!user.empty() && source->Read(server, user))
            return {S::Stored, {}};
        return {S::NotStored, {}};
    } catch (const EPasswordStoreMissing& e) {
        return {S::Missing, e.what()};
    } catch (const std::exception& e) {
        return {S::Failed, e.what()};
    }
}

} // namespace

void AskPasswordStore(QObject* owner, const std::string& server, const std::string& user,
                      std::function<void(const TStoreAnswer&)> done) {
    struct Shared {
        std::mutex Lock;
        bool Done = false;
        TStoreAnswer Answer;
    };
    auto shared = std::make_shared<Shared>();
    // Detached: a store that never answers keeps only this thread, never a window.
    std::thread([shared, server, user] {
        TStoreAnswer answer = Ask(server, user);
        std::lock_guard<std::mutex> lock(shared->Lock);
        shared->Answer = std::move(answer);
        shared->Done = true;
    }).detach();
    // Polled from the owner's thread, so no call ever crosses into a window that has gone.
    auto* poll = new QTimer(owner);
    poll->setInterval(kPollMs);
    QObject::connect(poll, &QTimer::timeout, owner, Guarded([poll, shared, done] {
                         TStoreAnswer answer;
                         {
                             std::lock_guard<std::mutex> lock(shared->Lock);
                             if (!shared->Done)
                                 return;
                             answer = shared->Answer;
                         }
                         poll->stop();
                         poll->deleteLater();
                         done(answer);
                     }));
    poll->start();
}

void RunOffUiThread(const std::function<void()>& work) {
    std::exception_ptr error;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        finished.store(true, std::memory_order_release);
    });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished.load(std::memory_order_acquire))
            loop.quit();
    });
    poll.start();
    if (!finished.load(std::memory_order_acquire))
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (error)
        std::rethrow_exception(error);
}

} // namespace ferry
