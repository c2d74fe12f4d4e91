#include "ui/user_prompts.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QStandardPaths>

#include "ui/ansi_text.h"
#include "ui/application.h"

namespace ferry {

namespace {
// The system's error box, which also copies itself with Ctrl+C as every box of ours does.
class ErrorMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_C && event->modifiers() == Qt::ControlModifier) {
            QGuiApplication::clipboard()->setText(
                BoxCopyText(windowTitle(), text(), {QStringLiteral("OK")}));
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
};

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}
} // namespace

std::string FolderBrowserStart(const std::string& current) {
    const QString typed = PathToQString(current);
    if (IsFolder(typed))
        return current;
    const QString fromEnvironment = qEnvironmentVariable("XDG_DESKTOP_DIR");
    if (IsFolder(fromEnvironment))
        return QStringToPath(fromEnvironment);
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (IsFolder(desktop))
        return QStringToPath(desktop);
    return QStringToPath(QDir::homePath());
}

std::string ErrorBoxText(std::string message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        message.push_back('.');
    return message;
}

int QtUserPrompts::MessageDlg(const std::string& message, TMsgDlgType type,
                              TMsgDlgButtons buttons) {
    return ferry::MessageDlg(message, type, buttons);
}

void QtUserPrompts::ErrorBox(const std::string& text) {
    ErrorMessageBox box(QMessageBox::Critical, AnsiToQString(ApplicationTitle()),
                        AnsiToQString(text), QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    if (QApplication::isRightToLeft())
        box.setLayoutDirection(Qt::RightToLeft);
    box.exec();
}

bool QtUserPrompts::BrowseForFolder(const std::string& title, std::string& path) {
    const QString chosen = QFileDialog::getExistingDirectory(
        QApplication::activeWindow(), AnsiToQString(title), PathToQString(FolderBrowserStart(path)),
        QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    path = QStringToPath(chosen);
    return true;
}

bool QtUserPrompts::ChooseFile(const std::string& title, std::string& path) {
    const QString chosen =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), AnsiToQString(title),
                                     PathToQString(FolderBrowserStart(path)));
    if (chosen.isEmpty())
        return false;
    path = QStringToPath(chosen);
    return true;
}

} // namespace ferry
