#pragma once

// What the two task dialogs share: their fields, checks and folder browsing.

#include <QWidget>
#include <functional>

#include "core/conditions/task_conditions.h"
#include "core/task_table.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ferry {

class TApplication;
class TFRM_TaskConditions;

// Where the two task dialogs differ in their layout.
struct TaskEntryLayout {
    const char* Name;
    const char* Caption;
    int Width, Height;
    int EditWidth;
    int ButtonX;
    int SourceButtonY, DestButtonY;
    int OkX, OkY, CancelX, CancelY;
    const char* OkText;
};

// The four fields and the rules the Add Entry and Edit Task dialogs share. The folder
// fields are filled only by the folder browser. The window has no close box and cannot be
// closed from its frame: it is left only through its buttons. What the user entered is handed
// back through OnTaskEntered; the dialog itself changes no table.
class TaskEntryForm : public QWidget {
    Q_OBJECT
public:
    TaskEntryForm(const TaskEntryLayout& layout, TApplication& app, QWidget* parent);

    // Centres the window, shows it and brings it to the front.
    void Show();

    void BTN_AddSourceClick();
    void BTN_AddDestClick();
    void BTN_AddTaskClick();
    void BTN_CancelClick();
    void BTN_ConditionsClick();
    virtual void FormShow() = 0;
    // The tasks of the table ahead of the one this dialog makes or edits.
    virtual std::vector<TaskRecord> TasksAhead() const = 0;

    QLabel* LBL_Name;
    QLineEdit* TXT_Identifier;
    QLabel* Label1;
    QLineEdit* TXT_SourceLoc;
    QPushButton* BTN_AddSource;
    QLabel* Label2;
    QLineEdit* TXT_Destination;
    QPushButton* BTN_AddDest;
    QLabel* Label3;
    QLineEdit* TXT_MatchString;
    QPushButton* BTN_AddTask;
    QPushButton* BTN_Cancel;
    // In the free space left of the OK button; opens the Task Conditions window.
    QPushButton* BTN_Conditions;
    TFRM_TaskConditions* FRM_TaskConditions;

    // The conditions as the dialog holds them now, its match string included.
    TaskConditions Conditions() const;

    // A task that passed the checks, just before the dialog closes.
    std::function<void(const TaskRecord& task)> OnTaskEntered;
    // Told when the dialog has closed, after its OK button or Cancel.
    std::function<void()> OnClosed;

protected:
    // The conditions go with the fields; the match string is the field's.
    void SetFields(const TaskRecord& task);
    TaskRecord Fields() const;
    void CloseAndShowMain();

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    TApplication& App_;
    // What the dialog does not show in its fields: carried from SetFields to Fields, so that
    // an edit keeps the task's conditions.
    ConditionValues Conditions_;

private:
    void Browse(const char* title, QLineEdit* field);
};

} // namespace ferry
