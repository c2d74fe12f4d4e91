#include "ui/frm_add_task.h"

#include "core/engine.h"
#include "ui/application.h"
#include "ui/frm_task_list.h"

namespace ferry {

namespace {
constexpr TaskEntryLayout kAddLayout = {
    "FRM_AddTask", "Ferrydesk - Add Entry", 462, 154, 288, 382, 38, 65, 301, 122, 382, 121,
    "&Add Task"};
} // namespace

TFRM_AddTask::TFRM_AddTask(TApplication& app, QWidget* parent)
    : TaskEntryForm(kAddLayout, app, parent) {}

void TFRM_AddTask::FormShow() {
    SetFields({});
}

std::vector<TaskRecord> TFRM_AddTask::TasksAhead() const {
    return FRM_TaskList ? TaskRowsForPass(FRM_TaskList->Table()) : std::vector<TaskRecord>();
}

} // namespace ferry
