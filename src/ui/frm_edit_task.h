#pragma once

#include "ui/task_entry_form.h"

namespace ferry {

// Edit Task: rewrites the task in the main window's current row.
class TFRM_EditTask : public TaskEntryForm {
    Q_OBJECT
public:
    TFRM_EditTask(TApplication& app, TFRM_TaskList& main, QWidget* parent = nullptr);
    void FormShow() override;

protected:
    void WriteTask(const TaskRecord& task) override;
};

} // namespace ferry
