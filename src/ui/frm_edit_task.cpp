#include "ui/frm_edit_task.h"

#include "ui/application.h"
#include "ui/frm_task_list.h"

namespace ferry {

namespace {
constexpr TaskEntryLayout kEditLayout = {
    "FRM_EditTask", "Ferrydesk - Edit Task", 463, 156, 289, 383, 40, 67, 302, 123, 383, 123,
    "&Apply"};
} // namespace

TFRM_EditTask::TFRM_EditTask(TApplication& app, TFRM_TaskList& main, QWidget* parent)
    : TaskEntryForm(kEditLayout, app, main, parent) {}

void TFRM_EditTask::FormShow() {
    TaskTable& table = Main_.Table();
    SetFields(table.TaskAt(table.Row()));
}

void TFRM_EditTask::WriteTask(const TaskRecord& task) {
    TaskTable& table = Main_.Table();
    table.ReplaceTask(table.Row(), task);
}

} // namespace ferry
