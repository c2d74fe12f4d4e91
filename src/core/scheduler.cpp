#include "core/scheduler.h"

namespace ferry {

uint32_t TimerPeriodForMinutes(int64_t minutes) {
    if (minutes <= 0)
        return 0;
    constexpr int64_t kMinute = 60000;
    if (minutes > static_cast<int64_t>(kLongestTimerPeriod) / kMinute)
        return kLongestTimerPeriod;
    return static_cast<uint32_t>(minutes * kMinute);
}

void Scheduler::SetIntervalMinutes(int64_t minutes) {
    Timer_.SetInterval(TimerPeriodForMinutes(minutes));
}

void Scheduler::Pause() {
    Timer_.SetEnabled(false);
}

void Scheduler::Resume() {
    Timer_.SetEnabled(true);
}

void Scheduler::RunAllTasks(const TaskTable& table, const TaskFolderRoutine& routine) {
    Timer_.SetEnabled(false);
    // RowCount is read afresh each round: the routine runs on the one thread, but a box it
    // leads to runs the message loop, and the table must never be read past its end.
    for (int row = 1; row <= table.LastTaskRow(); ++row) {
        if (!table.IsTaskRow(row))
            continue;
        const TaskRecord task = table.TaskAt(row);
        routine(task.Source, task.Destination, "*.*", task.MatchString);
    }
    Timer_.SetEnabled(true);
}

} // namespace ferry
