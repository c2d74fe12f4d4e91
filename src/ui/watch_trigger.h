#pragma once

// Routing files as they arrive: the folder watch's news turned into passes of just those
// files, run by the same runner as the timed passes, so that passes never overlap.

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

#include "core/engine.h"
#include "core/scheduler.h"
#include "core/watch_queue.h"
#include "platform/folder_watch.h"

namespace ferry {

class PassRunner;
class WatchDriver;

class WatchTrigger : public QObject {
    Q_OBJECT
public:
    // `tasks` gives the table's tasks as a pass would run them now.
    WatchTrigger(PassRunner& runner, Scheduler& scheduler,
                 std::function<std::vector<TaskRecord>()> tasks, QObject* parent);
    ~WatchTrigger() override;

    // Starts or stops watching the tasks' source folders (the stored setting is the caller's).
    void SetOn(bool on);
    bool On() const { return Driver_ != nullptr; }
    // The table changed: its source folders are watched from now on.
    void TasksChanged();

    // A timed pass is starting: it lists every folder whole, so what waited is in it.
    void FullPassStarted() { Queue_ = WatchQueue(); }
    // The timer ticked while a pass of arrived files ran: the timed pass comes right after it.
    void TimedPassOwed() { TimedOwed_ = true; }
    // Looks, once the event loop is back, whether a pass can start for what waits.
    void Later();

    std::vector<FolderWatchStatus> Statuses() const;

    // Runs a timed pass (the window's tick).
    std::function<void()> RunTimedPass;
    // How the watch waits; set before SetOn (tests lower the limits).
    FolderWatchOptions Options;

signals:
    // A folder's state changed, or watching was switched on or off.
    void StatusChanged();

private:
    Q_INVOKABLE void Arrived();
    void TryStart();
    std::vector<std::string> SourceFolders() const;

    PassRunner& Runner_;
    Scheduler& Scheduler_;
    std::function<std::vector<TaskRecord>()> Tasks_;
    std::unique_ptr<WatchDriver> Driver_;
    WatchQueue Queue_;
    bool TimedOwed_ = false;
    bool LaterQueued_ = false;
};

} // namespace ferry
