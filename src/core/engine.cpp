#include "core/engine.h"

#include "core/pass_folders.h"
#include "core/pass_report.h"
#include "core/task_pass.h"

namespace ferry {

PassEnd RunPass(const std::vector<TaskRecord>& tasks, const PassRules& rules,
                PassObserver& observer, const CancelFlag& cancel) {
    ScopedCancelFlag scope(cancel);
    PassReport report(observer);
    try {
        report.Start();
        PassFolders folders(tasks, rules);
        for (std::size_t n = 0; n < tasks.size(); ++n)
            RunTask(tasks[n], n, folders, report);
    } catch (...) {
        report.Failed(std::current_exception());
    }
    return report.End();
}

std::vector<TaskRecord> TaskRowsForPass(const TaskTable& table) {
    std::vector<TaskRecord> rows;
    for (int row = 1; row <= table.LastTaskRow(); ++row)
        if (table.IsTaskRow(row))
            rows.push_back(table.TaskAt(row));
    return rows;
}

} // namespace ferry
