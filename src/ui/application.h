#pragma once

// The application object: its windows, its boxes, its error display and its end.

#include <QIcon>
#include <QObject>
#include <exception>
#include <memory>
#include <string>

#include "ui/form_environment.h"

class QSessionManager;

namespace ferry {

class UserPrompts;
class TFRM_TaskList;
class TFRM_AddTask;
class TFRM_Options;
class TFRM_EditTask;

// The four windows, one of each for the whole run, created in this order.
extern TFRM_TaskList* FRM_TaskList;
extern TFRM_AddTask* FRM_AddTask;
extern TFRM_Options* FRM_Options;
extern TFRM_EditTask* FRM_EditTask;

// The application object: the title, the icon, the boxes that ask the user, the top-level
// error display, the windows and the end of the run. One per process; a QApplication must
// exist first.
class TApplication : public QObject {
    Q_OBJECT
public:
    explicit TApplication(FormEnvironment environment = {});
    ~TApplication() override;

    std::string Title = "Ferrydesk";
    QIcon Icon;
    bool ShowMainForm = true;

    const FormEnvironment& Environment() const { return Environment_; }
    UserPrompts& Prompts() const;

    // Creates the four windows hidden, in order, running the main window's creation
    // handler. An error there is shown and creation goes on.
    void CreateForms();
    // Shows the main window (its show handler runs) and runs the message loop until the
    // program is told to end. Returns the exit code.
    int Run();

    bool Terminated() const { return Terminated_; }
    // Ends the message loop once it gets back to it.
    void Terminate();

    // The top-level error display.
    void HandleException(const std::exception& error);
    void HandleUnknownException();

    // Log-off or shut-down: Qt asks whether the session may end.
    void CommitDataRequest(QSessionManager& manager);

    // From now on SIGTERM, SIGINT and SIGHUP end the run as a quit does, without asking: the
    // pass is called off, unsaved task changes get one more try, and what still could not be
    // saved is written to stderr. For the program itself, not for tests sharing a process.
    void HandleTerminationSignals();
    // What one of those signals does, once the message loop gets to it.
    void TerminationRequested();

protected:
    // Sees the quit that ends the run, whoever sends it (a decided log-off too).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void DestroyForms();

    FormEnvironment Environment_;
    std::unique_ptr<UserPrompts> OwnPrompts_;
    bool Terminated_ = false;
};

extern TApplication* Application;

// The title for boxes, also while no application object exists.
std::string ApplicationTitle();
bool ApplicationTerminated();

} // namespace ferry
