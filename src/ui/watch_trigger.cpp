#include "ui/watch_trigger.h"

#include <QTimer>
#include <algorithm>

#include "core/pass_rules.h"
#include "core/watch_driver.h"
#include "extract/program_pass_rules.h"
#include "settings/settings_store.h"
#include "ui/guard.h"
#include "ui/pass_runner.h"

namespace ferry {

WatchTrigger::WatchTrigger(PassRunner& runner, Scheduler& scheduler,
                           std::function<std::vector<TaskRecord>()> tasks, QObject* parent)
    : QObject(parent), Runner_(runner), Scheduler_(scheduler), Tasks_(std::move(tasks)),
      Options(WatchOptionsFromEnvironment()) {}

WatchTrigger::~WatchTrigger() = default;

void WatchTrigger::SetOn(bool on) {
    if (on == On())
        return;
    if (on) {
        Driver_ = std::make_unique<WatchDriver>(
            [this] { QMetaObject::invokeMethod(this, "Arrived", Qt::QueuedConnection); }, Options);
        Driver_->SetFolders(SourceFolders());
    } else {
        Driver_.reset(); // joins the watch's thread; a queued Arrived finds nothing
        Queue_ = WatchQueue();
    }
    emit StatusChanged();
}

void WatchTrigger::TasksChanged() {
    if (Driver_)
        Driver_->SetFolders(SourceFolders());
}

std::vector<std::string> WatchTrigger::SourceFolders() const {
    std::vector<std::string> folders;
    for (const TaskRecord& task : Tasks_())
        if (!task.Source.empty() && !task.Destination.empty() && !task.MatchString.empty())
            folders.push_back(task.Source);
    return folders;
}

std::vector<FolderWatchStatus> WatchTrigger::Statuses() const {
    return Driver_ ? Driver_->Statuses() : std::vector<FolderWatchStatus>{};
}

void WatchTrigger::Arrived() {
    if (!Driver_)
        return;
    WatchNews news = Driver_->Take();
    for (const ReadyFiles& ready : news.Ready)
        Queue_.Add(ready);
    if (!news.Changed.empty())
        emit StatusChanged();
    TryStart();
}

void WatchTrigger::Later() {
    if (LaterQueued_)
        return;
    LaterQueued_ = true;
    QTimer::singleShot(0, this, Guarded([this] {
                           LaterQueued_ = false;
                           TryStart();
                       }));
}

void WatchTrigger::TryStart() {
    // Nothing starts while a pass runs (its end looks again), nor while the timer is held
    // for an open dialog or after an error (Resume looks again).
    if (Runner_.Running() || !Scheduler_.TimerRunning())
        return;
    if (TimedOwed_) {
        TimedOwed_ = false;
        if (RunTimedPass) {
            RunTimedPass();
            return;
        }
    }
    if (Queue_.Empty())
        return;
    std::vector<PassTask> runs = Queue_.Take(Tasks_());
    if (runs.empty())
        return;
    // The same rules Run Tasks Now gives a pass, documents and OCR languages included.
    const PassRules rules = ProgramPassRules();
    Runner_.StartTriggered(std::move(runs), rules);
}

} // namespace ferry
