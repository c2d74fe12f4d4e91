#include "core/engine.h"

#include "core/pass_folders.h"
#include "core/pass_report.h"
#include "core/task_pass.h"

namespace ferry {

PassEnd RunPassTasks(const std::vector<PassTask>& runs, const PassRules& rules,
                     PassObserver& observer, const CancelFlag& cancel) {
    ScopedCancelFlag scope(cancel);
    PassReport report(observer);
    try {
        report.Start();
        std::vector<TaskRecord> tasks;
        tasks.reserve(runs.size());
        for (const PassTask& run : runs)
            tasks.push_back(run.Task);
        PassFolders folders(tasks, rules);
        for (std::size_t n = 0; n < runs.size(); ++n)
            RunTask(runs[n].Task, n, folders, report, runs[n].AllFiles ? nullptr : &runs[n].Only);
    } catch (...) {
        report.Failed(std::current_exception());
    }
    return report.End();
}

PassEnd RunPass(const std::vector<TaskRecord>& tasks, const PassRules& rules,
                PassObserver& observer, const CancelFlag& cancel) {
    std::vector<PassTask> runs;
    runs.reserve(tasks.size());
    for (const TaskRecord& task : tasks)
        runs.push_back({task, true, {}});
    return RunPassTasks(runs, rules, observer, cancel);
}

std::vector<TaskRecord> TaskRowsForPass(const TaskTable& table) {
    std::vector<TaskRecord> rows;
    for (int row = 1; row <= table.LastTaskRow(); ++row)
        if (table.IsTaskRow(row))
            rows.push_back(table.TaskAt(row));
    return rows;
}

} // namespace ferry
