#include "ui/user_prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "ui/ansi_text.h"
#include "ui/application.h"

namespace ferry {

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
    QMessageBox box(QMessageBox::Critical, AnsiToQString(ApplicationTitle()), AnsiToQString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    if (QApplication::isRightToLeft())
        box.setLayoutDirection(Qt::RightToLeft);
    box.exec();
}

bool QtUserPrompts::BrowseForFolder(const std::string& title, std::string& path) {
    const QString chosen = QFileDialog::getExistingDirectory(
        QApplication::activeWindow(), AnsiToQString(title), QString(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    path = QStringToPath(chosen);
    return true;
}

} // namespace ferry
