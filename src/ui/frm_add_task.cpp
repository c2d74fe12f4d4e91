#include "ui/frm_add_task.h"

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

} // namespace ferry
