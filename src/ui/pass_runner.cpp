#include "ui/pass_runner.h"

#include "base/cancellation.h"
#include "ui/guard.h"

namespace ferry {

PassRunner::PassRunner(Scheduler& scheduler, PassObserver& onWorker, PassObserver& onWindows,
                       QObject* parent)
    : QObject(parent), Scheduler_(scheduler), OnWorker_(onWorker), OnWindows_(onWindows) {}

PassRunner::~PassRunner() {
    Stop();
}

bool PassRunner::Start(std::vector<TaskRecord> tasks, PassRules rules) {
    std::vector<PassTask> runs;
    runs.reserve(tasks.size());
    for (TaskRecord& task : tasks)
        runs.push_back({std::move(task)});
    return StartRuns(std::move(runs), rules, false);
}

bool PassRunner::StartTriggered(std::vector<PassTask> runs, PassRules rules) {
    return StartRuns(std::move(runs), rules, true);
}

bool PassRunner::StartRuns(std::vector<PassTask> runs, PassRules rules, bool triggered) {
    if (Stopped_ || !(triggered ? Scheduler_.BeginTriggeredPass() : Scheduler_.BeginPass()))
        return false;
    const bool started = Worker_.Start(
        [this, runs = std::move(runs), rules](const CancelFlag& cancel) {
            PassEnd end = RunPassTasks(runs, rules, OnWorker_, cancel);
            std::lock_guard<std::mutex> guard(Lock_);
            HasEnded_ = true;
            Ended_ = std::move(end);
        },
        [this] {
            // On the worker: the runner outlives the thread (Stop joins it first), and a call
            // still queued when the runner goes is dropped with it.
            QMetaObject::invokeMethod(this, "Finished", Qt::QueuedConnection);
        });
    if (!started) {
        // Only a worker that is stopping refuses; the timer stays as a failed pass leaves it.
        Scheduler_.EndPass(false);
        return false;
    }
    if (OnRunningChanged)
        OnRunningChanged(true);
    return true;
}

void PassRunner::Stop() {
    Stopped_ = true;
    Worker_.Stop();
}

void PassRunner::Finished() {
    PassEnd end;
    {
        std::lock_guard<std::mutex> guard(Lock_);
        if (!HasEnded_)
            return;
        HasEnded_ = false;
        end = std::move(Ended_);
        Ended_ = PassEnd();
    }
    if (Stopped_)
        return;
    // The window is given back before any box shows, so a box never stands over a busy one.
    std::exception_ptr restartError;
    try {
        Scheduler_.EndPass(end.Error == nullptr);
    } catch (...) {
        restartError = std::current_exception(); // no timers left: the timer stays stopped
    }
    if (OnRunningChanged)
        RunGuarded([&] { OnRunningChanged(false); });
    // Before any error box: the note of what the pass did does not wait for the box's answer.
    RunGuarded([&] { OnWindows_.PassEnded(end); });
    for (const std::exception_ptr& raised : {end.Error, restartError}) {
        if (!raised)
            continue;
        RunGuarded([&] {
            try {
                std::rethrow_exception(raised);
            } catch (const EOperationCancelled&) {
                // Called off by the program itself: nobody is waiting for this pass any more.
            }
        });
    }
}

} // namespace ferry
