#include "ui/application.h"

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "base/exception.h"
#include "ui/app_icon.h"
#include "ui/frm_add_task.h"
#include "ui/frm_edit_task.h"
#include "ui/frm_options.h"
#include "ui/frm_task_list.h"
#include "ui/guard.h"
#include "ui/user_prompts.h"

namespace ferry {

TApplication* Application = nullptr;
TFRM_TaskList* FRM_TaskList = nullptr;
TFRM_AddTask* FRM_AddTask = nullptr;
TFRM_Options* FRM_Options = nullptr;
TFRM_EditTask* FRM_EditTask = nullptr;

std::string ApplicationTitle() {
    return Application ? Application->Title : "Ferrydesk";
}

bool ApplicationTerminated() {
    return Application && Application->Terminated();
}

void RunGuarded(const std::function<void()>& handler) noexcept {
    try {
        try {
            handler();
        } catch (const std::exception& error) {
            if (Application)
                Application->HandleException(error);
        } catch (...) {
            if (Application)
                Application->HandleUnknownException();
        }
    } catch (...) {
        // The error display itself failed; there is nowhere left to show it.
    }
}

namespace {

// The signal handler's only act: a byte into a pipe the message loop watches.
int gSignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TApplication::TApplication(FormEnvironment environment) : Environment_(std::move(environment)) {
    Application = this;
    Icon = MakeApplicationIcon();
    QApplication::setWindowIcon(Icon);
    // The main window hides in the tray with no window shown; only its close ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!Environment_.Prompts)
        OwnPrompts_ = std::make_unique<QtUserPrompts>();
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            Guarded([this](QSessionManager& manager) { CommitDataRequest(manager); }));
}

TApplication::~TApplication() {
    DestroyForms();
    if (Application == this)
        Application = nullptr;
}

UserPrompts& TApplication::Prompts() const {
    return Environment_.Prompts ? *Environment_.Prompts : *OwnPrompts_;
}

void TApplication::CreateForms() {
    QApplication::setApplicationName(QString::fromStdString(Title));
    FRM_TaskList = new TFRM_TaskList(*this);
    RunGuarded([] { FRM_TaskList->FormCreate(); });
    FRM_AddTask = new TFRM_AddTask(*this);
    FRM_Options = new TFRM_Options(*this);
    FRM_EditTask = new TFRM_EditTask(*this);
    FRM_TaskList->ConnectDialogs(*FRM_AddTask, *FRM_EditTask, *FRM_Options);
}

void TApplication::DestroyForms() {
    // Newest first, each hidden before it goes.
    auto destroy = [](auto*& form) {
        if (!form)
            return;
        form->hide();
        delete form;
        form = nullptr;
    };
    destroy(FRM_EditTask);
    destroy(FRM_Options);
    destroy(FRM_AddTask);
    destroy(FRM_TaskList);
}

int TApplication::Run() {
    if (ShowMainForm && FRM_TaskList)
        FRM_TaskList->Show();
    if (!Terminated_)
        QApplication::exec();
    DestroyForms();
    return 0;
}

void TApplication::Terminate() {
    Terminated_ = true;
    QCoreApplication::quit();
}

bool TApplication::eventFilter(QObject* watched, QEvent* event) {
    // Qt closes every window before it lets the loop end. Once the end is decided (the
    // session's log-off is, once it tells the program to go), no window may ask again or
    // refuse: the question was answered, and a dialog that stays up would keep the loop
    // running.
    if (watched == qApp && event->type() == QEvent::Quit)
        Terminated_ = true;
    return QObject::eventFilter(watched, event);
}

void TApplication::HandleException(const std::exception& error) {
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    Prompts().ErrorBox(ErrorBoxText(error.what()));
}

void TApplication::HandleUnknownException() {
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    Prompts().ErrorBox(ErrorBoxText("Unknown error"));
}

void TApplication::HandleTerminationSignals() {
    if (gSignalPipe[0] >= 0 || ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, Guarded([this] {
                char drained[16];
                while (::read(gSignalPipe[0], drained, sizeof drained) > 0) {
                }
                TerminationRequested();
            }));
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

void TApplication::TerminationRequested() {
    if (Terminated_)
        return;
    if (FRM_TaskList) {
        const std::string unsaved = FRM_TaskList->FormTerminate();
        if (!unsaved.empty())
            std::fprintf(stderr, "ferrydesk: ended by a signal; %s.\n", unsaved.c_str());
    }
    Terminate();
}

void TApplication::CommitDataRequest(QSessionManager& manager) {
    if (!manager.allowsInteraction() || !FRM_TaskList)
        return;
    bool canClose = true;
    FRM_TaskList->FormCloseQuery(canClose);
    manager.release();
    if (!canClose)
        manager.cancel();
}

} // namespace ferry
