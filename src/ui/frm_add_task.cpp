#include "ui/frm_add_task.h"

#include "ui/application.h"
#include "ui/frm_task_list.h"

namespace ferry {

namespace {
constexpr TaskEntryLayout kAddLayout = {
    "FRM_AddTask", "Ferrydesk - Add Entry", 462, 154, 288, 382, 38, 65, 301, 122, 382, 121,
    "&Add Task"};
} // namespace

TFRM_AddTask::TFRM_AddTask(TApplication& app, TFRM_TaskList& main, QWidget* parent)
    : TaskEntryForm(kAddLayout, app, main, parent) {}

void TFRM_AddTask::FormShow() {
    SetFields({});
}

void TFRM_AddTask::WriteTask(const TaskRecord& task) {
    Main_.Table().AppendTask(task);
}

} // namespace ferry
