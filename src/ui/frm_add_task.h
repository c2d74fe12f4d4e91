#pragma once

#include "ui/task_entry_form.h"

namespace ferry {

// Add Entry: appends a task to the table.
class TFRM_AddTask : public TaskEntryForm {
    Q_OBJECT
public:
    TFRM_AddTask(TApplication& app, TFRM_TaskList& main, QWidget* parent = nullptr);
    void FormShow() override;

protected:
    void WriteTask(const TaskRecord& task) override;
};

} // namespace ferry
