#include "ui/task_entry_form.h"
#include "ui/window_frame.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <limits>

#include "ui/ansi_text.h"
#include "ui/application.h"
#include "ui/file_check.h"
#include "ui/form_style.h"
#include "ui/frm_task_conditions.h"
#include "ui/guard.h"
#include "ui/user_prompts.h"

namespace ferry {

TaskEntryForm::TaskEntryForm(const TaskEntryLayout& layout, TApplication& app, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), App_(app) {
    setObjectName(QString::fromLatin1(layout.Name));
    setWindowTitle(QString::fromLatin1(layout.Caption));
    setFont(FormFont(QStringLiteral("Tahoma")));
    resize(layout.Width, layout.Height);
    setWindowIcon(App_.Icon);
    KeepFromMinimising(this);

    LBL_Name = MakeLabel(this, "LBL_Name", "Task Name", 8, 13);
    TXT_Identifier = MakeEdit(this, "TXT_Identifier", 88, 13, layout.EditWidth);
    Label1 = MakeLabel(this, "Label1", "Source Folder", 8, 40);
    TXT_SourceLoc = MakeEdit(this, "TXT_SourceLoc", 88, 40, layout.EditWidth);
    BTN_AddSource =
        MakeButton(this, "BTN_AddSource", "B&rowse", layout.ButtonX, layout.SourceButtonY, 75);
    Label2 = MakeLabel(this, "Label2", "Destination", 8, 67);
    TXT_Destination = MakeEdit(this, "TXT_Destination", 88, 67, layout.EditWidth);
    BTN_AddDest =
        MakeButton(this, "BTN_AddDest", "&Browse", layout.ButtonX, layout.DestButtonY, 75);
    Label3 = MakeLabel(this, "Label3", "Matching String", 8, 94);
    TXT_MatchString = MakeEdit(this, "TXT_MatchString", 88, 94, layout.EditWidth);
    BTN_AddTask = MakeButton(this, "BTN_AddTask", layout.OkText, layout.OkX, layout.OkY, 75);
    BTN_Cancel = MakeButton(this, "BTN_Cancel", "&Cancel", layout.CancelX, layout.CancelY, 74);
    BTN_Conditions = MakeButton(this, "BTN_Conditions", "Con&ditions", 8, 122, 75);
    BTN_Conditions->setText(QString::fromUtf8("Con&ditions\u2026"));
    FRM_TaskConditions = new TFRM_TaskConditions(App_, this);
    FRM_TaskConditions->TasksAhead = [this] { return TasksAhead(); };
    FRM_TaskConditions->OnAccepted = [this](const TaskConditions& conditions) {
        Conditions_ = static_cast<const ConditionValues&>(conditions);
        TXT_MatchString->setText(AnsiToQString(conditions.MatchString));
    };

    // The folder fields show the chosen folder only; they take no typing, clicks or focus.
    for (QLineEdit* folder : {TXT_SourceLoc, TXT_Destination}) {
        folder->setReadOnly(true);
        folder->setEnabled(false);
        folder->setFocusPolicy(Qt::NoFocus);
    }

    setTabOrder(TXT_Identifier, BTN_AddSource);
    setTabOrder(BTN_AddSource, BTN_AddDest);
    setTabOrder(BTN_AddDest, TXT_MatchString);
    setTabOrder(TXT_MatchString, BTN_Conditions);
    setTabOrder(BTN_Conditions, BTN_AddTask);
    setTabOrder(BTN_AddTask, BTN_Cancel);

    connect(BTN_AddSource, &QPushButton::clicked, this, Guarded([this] { BTN_AddSourceClick(); }));
    connect(BTN_AddDest, &QPushButton::clicked, this, Guarded([this] { BTN_AddDestClick(); }));
    connect(BTN_AddTask, &QPushButton::clicked, this, Guarded([this] { BTN_AddTaskClick(); }));
    connect(BTN_Cancel, &QPushButton::clicked, this, Guarded([this] { BTN_CancelClick(); }));
    connect(BTN_Conditions, &QPushButton::clicked, this,
            Guarded([this] { BTN_ConditionsClick(); }));
}

void TaskEntryForm::Show() {
    ShowCentredAndRaised(this);
}

void TaskEntryForm::SetFields(const TaskRecord& task) {
    TXT_Identifier->setText(AnsiToQString(task.Identifier));
    TXT_SourceLoc->setText(PathToQString(task.Source));
    TXT_Destination->setText(PathToQString(task.Destination));
    TXT_MatchString->setText(AnsiToQString(task.MatchString));
    Conditions_ = task.Conditions;
}

TaskConditions TaskEntryForm::Conditions() const {
    return {QStringToAnsi(TXT_MatchString->text()), Conditions_};
}

TaskRecord TaskEntryForm::Fields() const {
    return {QStringToAnsi(TXT_Identifier->text()), QStringToPath(TXT_SourceLoc->text()),
            QStringToPath(TXT_Destination->text()), QStringToAnsi(TXT_MatchString->text()),
            Conditions_};
}

void TaskEntryForm::Browse(const char* title, QLineEdit* field) {
    std::string path = QStringToPath(field->text());
    if (App_.Prompts().BrowseForFolder(title, path))
        field->setText(PathToQString(path));
}

void TaskEntryForm::BTN_AddSourceClick() {
    Browse("Browse for Source File Location", TXT_SourceLoc);
}

void TaskEntryForm::BTN_AddDestClick() {
    Browse("Browse for File Destination", TXT_Destination);
}

void TaskEntryForm::BTN_AddTaskClick() {
    if (TXT_Identifier->text().isEmpty()) {
        App_.Prompts().MessageDlg("All Fields must be completed", TMsgDlgType::mtCustom, Btn(mbOK));
        SetFields({});
        return;
    }
    // Only empty text is missing: blanks are a value and are kept as typed.
    if (TXT_SourceLoc->text().isEmpty() || TXT_Destination->text().isEmpty() ||
        TXT_MatchString->text().isEmpty())
        return;
    // The match string may have been changed here since the Conditions window checked it.
    const std::string error = PatternError(Conditions());
    if (!error.empty()) {
        App_.Prompts().MessageDlg("The regular expression is not valid: " + error,
                                  TMsgDlgType::mtError, Btn(mbOK));
        return;
    }
    if (OnTaskEntered)
        OnTaskEntered(Fields());
    CloseAndShowMain();
}

void TaskEntryForm::BTN_ConditionsClick() {
    FRM_TaskConditions->ShowTask(Fields(), Conditions());
}

void TaskEntryForm::BTN_CancelClick() {
    CloseAndShowMain();
}

void TaskEntryForm::CloseAndShowMain() {
    hide();
    if (OnClosed)
        OnClosed();
}

void TaskEntryForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    OfferNoFrameButtons(this);
    if (!event->spontaneous())
        RunGuarded([this] { FormShow(); });
}

void TaskEntryForm::closeEvent(QCloseEvent* event) {
    // Alt+F4 or the window manager: the dialog has no close box and is left only through
    // its buttons, or the main window would stay hidden with the scheduler paused.
    // Once the program is ending it may go, or the loop would never end.
    event->setAccepted(ApplicationTerminated());
}

} // namespace ferry
