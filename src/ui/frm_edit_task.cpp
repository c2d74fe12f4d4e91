#include "ui/frm_edit_task.h"

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

} // namespace ferry
