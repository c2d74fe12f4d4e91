#pragma once

// The Add Entry dialog.

#include "ui/task_entry_form.h"

namespace ferry {

// Add Entry: hands back a new task for the end of the table.
class TFRM_AddTask : public TaskEntryForm {
    Q_OBJECT
public:
    explicit TFRM_AddTask(TApplication& app, QWidget* parent = nullptr);
    void FormShow() override;
    std::vector<TaskRecord> TasksAhead() const override;
};

} // namespace ferry
