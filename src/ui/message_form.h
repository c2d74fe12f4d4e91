#pragma once

// The program's own message boxes.

#include <QDialog>
#include <QStringList>
#include <string>
#include <vector>

class QPushButton;

namespace ferry {

// The kinds of box the program's own message dialog knows. mtCustom carries the
// application title and no icon: it is the information box.
enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons, in the order they always stand in, left to right.
enum TMsgDlgBtn : unsigned {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp,
};
using TMsgDlgButtons = unsigned; // a set of TMsgDlgBtn bits
constexpr TMsgDlgButtons Btn(TMsgDlgBtn b) {
    return 1u << b;
}

// What a box returns.
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10,
};

// The program's modal message dialog: an optional 32-pixel icon left of the message, the
// message wrapped at half the screen's width, and one centred row of equal-width buttons.
// Enter presses the default button (which has the focus), Esc the cancel button, and the
// close box gives mrCancel. Ctrl+C copies the box as text.
class TMessageForm : public QDialog {
    Q_OBJECT
public:
    TMessageForm(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons,
                 QWidget* parent = nullptr);

    // The text Ctrl+C puts on the clipboard.
    QString CopyText() const;

    QPushButton* DefaultButton() const { return Default_; }
    QPushButton* CancelButton() const { return Cancel_; }
    QPushButton* ButtonFor(TMsgDlgBtn b) const;

    static QString CaptionFor(TMsgDlgType type);
    static QString ButtonCaption(TMsgDlgBtn b);

    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString Caption_;
    QString Message_;
    std::vector<std::pair<TMsgDlgBtn, QPushButton*>> Buttons_;
    QPushButton* Default_ = nullptr;
    QPushButton* Cancel_ = nullptr;
};

// Builds the dialog, runs it modally and returns its result. While the program is ending a
// box is not shown at all and gives mrCancel.
int MessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons);

// What Ctrl+C puts on the clipboard for a box: caption, message and buttons between lines
// of hyphens, as the system's own boxes copy themselves.
QString BoxCopyText(const QString& caption, const QString& message, const QStringList& buttons);

} // namespace ferry
