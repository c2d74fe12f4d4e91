#pragma once

// The Edit Task dialog.

#include "ui/task_entry_form.h"

namespace ferry {

// Edit Task: shows the task it was opened with and hands back the task as edited.
class TFRM_EditTask : public TaskEntryForm {
    Q_OBJECT
public:
    explicit TFRM_EditTask(TApplication& app, QWidget* parent = nullptr);

    // Opens the dialog on `task`.
    void ShowTask(const TaskRecord& task);
    void FormShow() override;
    std::vector<TaskRecord> TasksAhead() const override;

private:
    TaskRecord Task_;
};

} // namespace ferry
