#include "ui/pass_runner.h"

#include "base/cancellation.h"
#include "ui/guard.h"

namespace ferry {

PassRunner::PassRunner(Scheduler& scheduler, QObject* parent)
    : QObject(parent), Scheduler_(scheduler) {}

PassRunner::~PassRunner() {
    Stop();
}

bool PassRunner::Start(std::vector<TaskRecord> rows, TaskFolderRoutine routine) {
    return Launch([this, rows = std::move(rows), routine = std::move(routine)] {
        Keep(RecordedPass());
        RunTaskRows(rows, routine);
    });
}

bool PassRunner::Start(std::vector<TaskRecord> rows, ReportingRoutine routine,
                       ActivityStore* history) {
    return Launch([this, rows = std::move(rows), routine = std::move(routine), history] {
        // The history is written here, on the worker, once per pass: the window only hears
        // of what was written.
        RecordedPass recorded;
        try {
            RunRecordedPass(rows, routine, history, recorded);
        } catch (...) {
            Keep(std::move(recorded));
            throw;
        }
        Keep(std::move(recorded));
    });
}

void PassRunner::Keep(RecordedPass recorded) {
    std::lock_guard<std::mutex> guard(Lock_);
    Recorded_ = std::move(recorded);
}

bool PassRunner::Launch(PassWorker::Work work) {
    if (Stopped_ || !Scheduler_.BeginPass())
        return false;
    const bool started = Worker_.Start(std::move(work), [this](std::exception_ptr error) {
        // On the worker: the runner outlives the thread (Stop joins it first), and a call
        // still queued when the runner goes is dropped with it.
        {
            std::lock_guard<std::mutex> guard(Lock_);
            HasEnded_ = true;
            Ended_ = std::move(error);
        }
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
    std::exception_ptr error;
    RecordedPass recorded;
    {
        std::lock_guard<std::mutex> guard(Lock_);
        if (!HasEnded_)
            return;
        HasEnded_ = false;
        error = std::move(Ended_);
        Ended_ = nullptr;
        recorded = std::move(Recorded_);
        Recorded_ = RecordedPass();
    }
    if (Stopped_)
        return;
    // The window is given back before any box shows, so a box never stands over a busy one.
    std::exception_ptr restartError;
    try {
        Scheduler_.EndPass(error == nullptr);
    } catch (...) {
        restartError = std::current_exception(); // no timers left: the timer stays stopped
    }
    if (OnRunningChanged)
        RunGuarded([&] { OnRunningChanged(false); });
    // Before any error box: the note of what the pass did does not wait for the box's answer.
    if (OnPassRecorded)
        RunGuarded([&] { OnPassRecorded(recorded); });
    for (const std::exception_ptr& raised : {error, restartError}) {
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
