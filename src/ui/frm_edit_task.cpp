#include "ui/frm_edit_task.h"

#include "core/engine.h"
#include "ui/application.h"
#include "ui/frm_task_list.h"

namespace ferry {

namespace {
constexpr TaskEntryLayout kEditLayout = {
    "FRM_EditTask", "Ferrydesk - Edit Task", 463, 156, 289, 383, 40, 67, 302, 123, 383, 123,
    "&Apply"};
} // namespace

TFRM_EditTask::TFRM_EditTask(TApplication& app, QWidget* parent)
    : TaskEntryForm(kEditLayout, app, parent) {}

void TFRM_EditTask::ShowTask(const TaskRecord& task) {
    Task_ = task;
    Show();
}

void TFRM_EditTask::FormShow() {
    SetFields(Task_);
}

std::vector<TaskRecord> TFRM_EditTask::TasksAhead() const {
    std::vector<TaskRecord> ahead;
    if (!FRM_TaskList)
        return ahead;
    const TaskTable& table = FRM_TaskList->Table();
    for (int row = 1; row < table.Row() && row <= table.LastTaskRow(); ++row)
        if (table.IsTaskRow(row))
            ahead.push_back(table.TaskAt(row));
    return ahead;
}

} // namespace ferry
