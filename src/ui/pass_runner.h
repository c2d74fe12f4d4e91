#pragma once

#include <QObject>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

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
    bool Running() const { return Scheduler_.PassRunning(); }
    // Calls the running pass off (the program is ending); the move under way finishes.
    void Cancel() { Worker_.Cancel(); }
    // Cancels and waits for the worker to end. Nothing starts afterwards, and the end of the
    // pass that was running is not reported.
    void Stop();

    // Told on the user-interface thread when a pass starts (true) and when it has ended.
    std::function<void(bool running)> OnRunningChanged;

private:
    // Queued by the worker once the pass's end is in Ended_. The call carries no data: what
    // crosses the threads goes through Lock_ alone.
    Q_INVOKABLE void Finished();

    Scheduler& Scheduler_;
    PassWorker Worker_;
    bool Stopped_ = false;
    std::mutex Lock_;
    bool HasEnded_ = false;
    std::exception_ptr Ended_;
};

} // namespace ferry
