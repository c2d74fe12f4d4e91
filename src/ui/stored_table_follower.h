#pragma once

// Keeps a running copy on the stored settings: when another copy or the reg tool changes the
// task table, the interval or the case rule, the grid and the next pass use what is stored.

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/task_changes.h"
#include "core/task_table.h"

class QFileSystemWatcher;
class QTimer;

namespace ferry {

class StoredTableFollower : public QObject {
    Q_OBJECT
public:
    StoredTableFollower(TaskTable& table, TaskChanges& changes, QObject* parent);

    // False while this copy may not follow (its own load has not completed).
    std::function<bool()> CanFollow;
    // The stored interval is not the one this copy last read or wrote.
    std::function<void(int32_t minutes)> OnInterval;

    // The table as just loaded or saved: what later reads are compared with.
    void Loaded(std::optional<int32_t> interval);
    // This copy stored the interval itself.
    void IntervalWritten(int32_t minutes) { Interval_ = minutes; }
    // Reads the store now (before a pass, say) and follows it. A store held by another program
    // is not waited for: the table stays as it is, and the change is followed once it is free.
    void Follow();
    // The current row's task was deleted elsewhere since the edit dialog took it.
    bool CurrentTaskGone() const { return CurrentGone_; }
    void CurrentRowChosen() { CurrentGone_ = false; }

private:
    void Watch();

    TaskTable& Table_;
    TaskChanges& Changes_;
    QFileSystemWatcher* Watcher_;
    QTimer* Settle_;
    std::optional<int32_t> Interval_;
    bool CurrentGone_ = false;
};

} // namespace ferry
