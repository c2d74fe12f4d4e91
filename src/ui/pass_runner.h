#pragma once

// How the windows run a routing pass: on the worker thread, away from the event loop, with
// its end brought back to the user-interface thread, where the scheduler's rules are kept.

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

#include "core/engine.h"
#include "core/pass_worker.h"
#include "core/scheduler.h"

namespace ferry {

// The timer stops when a pass starts, starts again with a full period when it completes, and
// stays stopped after an error, which goes to the error display as if the window had raised it.
class PassRunner : public QObject {
    Q_OBJECT
public:
    // `onWorker` is told of every pass as it runs, on the worker thread (the history, the
    // mail). `onWindows` hears only each pass's end, on the user-interface thread, once the
    // scheduler has had it and before an error that ended it is shown (the tray balloon, the
    // Activity window). Both must outlive the runner.
    PassRunner(Scheduler& scheduler, PassObserver& onWorker, PassObserver& onWindows,
               QObject* parent);
    ~PassRunner() override;

    // Hands a pass over `tasks` with `rules` to the worker. False, and nothing happens, while
    // a pass runs.
    bool Start(std::vector<TaskRecord> tasks, PassRules rules);
    // The same for files a watched folder reported: the timer keeps its period.
    bool StartTriggered(std::vector<PassTask> runs, PassRules rules);
    bool Running() const { return Scheduler_.PassRunning(); }
    // Calls the running pass off (the program is ending); the move under way finishes.
    void Cancel() { Worker_.Cancel(); }
    // Cancels and waits for the worker to end. Nothing starts afterwards, and the end of the
    // pass that was running is not reported.
    void Stop();

    // Told on the user-interface thread when a pass starts (true) and when it has ended.
    std::function<void(bool running)> OnRunningChanged;

private:
    bool StartRuns(std::vector<PassTask> runs, PassRules rules, bool triggered);

    // Queued by the worker once the pass's end is in Ended_. The call carries no data: what
    // crosses the threads goes through Lock_ alone.
    Q_INVOKABLE void Finished();

    Scheduler& Scheduler_;
    PassObserver& OnWorker_;
    PassObserver& OnWindows_;
    PassWorker Worker_;
    bool Stopped_ = false;
    std::mutex Lock_;
    bool HasEnded_ = false;
    PassEnd Ended_; // of the pass that ended, under Lock_
};

} // namespace ferry
