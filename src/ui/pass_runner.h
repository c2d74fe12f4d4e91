#pragma once

#include <QObject>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

#include "activity/activity_store.h"
#include "activity/pass_history.h"
#include "core/pass_worker.h"
#include "core/scheduler.h"

namespace ferry {

// Runs the main window's routing passes on the worker thread and brings each one's end back
// to the user-interface thread, where the scheduler's rules are kept: the timer stops when a
// pass starts, starts again with a full period when it completes, and stays stopped after an
// error, which goes to the error display as if the window had raised it.
class PassRunner : public QObject {
    Q_OBJECT
public:
    PassRunner(Scheduler& scheduler, QObject* parent);
    ~PassRunner() override;

    // Hands a pass over the rows to the worker. False, and nothing happens, while a pass runs.
    bool Start(std::vector<TaskRecord> rows, TaskFolderRoutine routine);
    // The same with a routine that reports how each file ended. The outcomes are gathered on
    // the worker and written to `history` (null: not kept) with one RecordPass when the pass
    // is over, before the window hears of its end. A history that cannot be written never
    // makes the pass fail.
    bool Start(std::vector<TaskRecord> rows, ReportingRoutine routine, ActivityStore* history);
    bool Running() const { return Scheduler_.PassRunning(); }
    // Calls the running pass off (the program is ending); the move under way finishes.
    void Cancel() { Worker_.Cancel(); }
    // Cancels and waits for the worker to end. Nothing starts afterwards, and the end of the
    // pass that was running is not reported.
    void Stop();

    // Told on the user-interface thread when a pass starts (true) and when it has ended.
    std::function<void(bool running)> OnRunningChanged;
    // Told on the user-interface thread after every pass, once its outcomes are recorded
    // (PassId 0 when nothing was written), before an error that ended it is shown. A pass of
    // a routine that reports nothing has an empty summary.
    std::function<void(const RecordedPass&)> OnPassRecorded;

private:
    // Queued by the worker once the pass's end is in Ended_. The call carries no data: what
    // crosses the threads goes through Lock_ alone.
    Q_INVOKABLE void Finished();
    bool Launch(PassWorker::Work work);
    void Keep(RecordedPass recorded);

    Scheduler& Scheduler_;
    PassWorker Worker_;
    bool Stopped_ = false;
    std::mutex Lock_;
    bool HasEnded_ = false;
    std::exception_ptr Ended_;
    RecordedPass Recorded_; // of the pass that ended, under Lock_
};

} // namespace ferry
