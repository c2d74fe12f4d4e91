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
    if (PassRunning_)
        return;
    Timer_.SetEnabled(true);
}

std::vector<TaskRecord> TaskRowsForPass(const TaskTable& table) {
    std::vector<TaskRecord> rows;
    for (int row = 1; row <= table.LastTaskRow(); ++row)
        if (table.IsTaskRow(row))
            rows.push_back(table.TaskAt(row));
    return rows;
}

void RunTaskRows(const std::vector<TaskRecord>& rows, const TaskFolderRoutine& routine) {
    for (const TaskRecord& task : rows)
        routine(task.Source, task.Destination, "*.*", task.MatchString);
}

void RunTaskRows(const std::vector<TaskRecord>& rows, const TaskRoutine& routine) {
    for (const TaskRecord& task : rows)
        routine(task);
}

bool Scheduler::BeginPass() {
    if (PassRunning_)
        return false;
    Timer_.SetEnabled(false);
    PassRunning_ = true;
    return true;
}

void Scheduler::EndPass(bool completed) {
    PassRunning_ = false;
    if (completed)
        Timer_.SetEnabled(true);
}

void Scheduler::RunAllTasks(const TaskTable& table, const TaskFolderRoutine& routine) {
    if (!BeginPass())
        return;
    try {
        // RowCount is read afresh each round: a box the routine leads to runs the message
        // loop, and the table must never be read past its end.
        for (int row = 1; row <= table.LastTaskRow(); ++row) {
            if (!table.IsTaskRow(row))
                continue;
            const TaskRecord task = table.TaskAt(row);
            routine(task.Source, task.Destination, "*.*", task.MatchString);
        }
    } catch (...) {
        EndPass(false);
        throw;
    }
    EndPass(true);
}

} // namespace ferry
