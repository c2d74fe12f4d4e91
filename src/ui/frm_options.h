#pragma once

// The Options dialog: the case rule and the e-mail notification settings.

#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "settings/mail_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ferry {

class TApplication;

// The Options dialog: case sensitivity and the e-mail notification settings, with a Test
// send of the values on screen. No close box; left only through Apply and Cancel.
class TFRM_Options : public QWidget {
    Q_OBJECT
public:
    explicit TFRM_Options(TApplication& app, QWidget* parent = nullptr);

    void Show();

    void FormShow();
    void enablesmtp(bool flag);
    void CHK_SMTPClick();
    void BTN_ApplyClick();
    void BTN_CancelClick();
    void BTN_TestClick();
    // Opens the Mail Security dialog; what it returns is stored by Apply.
    void BTN_SecurityClick();
    // Sends one notification with the From, To and Message fields as they stand; a failure
    // to connect or deliver shows the warning box.
    void SendMail(const std::string& server, uint16_t port);

    QLabel* Label1;
    QCheckBox* CHK_CaseSen;
    QLabel* Label2;
    QCheckBox* CHK_SMTP;
    QLabel* Label3;
    QLineEdit* TXT_SMTPServer;
    QLabel* Label4;
    QLineEdit* TXT_SMTPPort;
    QLabel* Label5;
    QLineEdit* TXT_SMTPFROM;
    QLabel* Label6;
    QLineEdit* TXT_SMTPTO;
    QLabel* Label7;
    QLineEdit* TXT_SMTPMessage;
    QPushButton* BTN_Test;
    QPushButton* BTN_Apply;
    QPushButton* BTN_Cancel;
    QPushButton* BTN_Security;
    // When mail goes out (SMTPNotify), in the free space right of the notification switch.
    QComboBox* CMB_Notify;

    // Told when the dialog has closed, after Apply or Cancel.
    std::function<void()> OnClosed;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TApplication& App_;
    void CloseAndShowMain();
    // The fields as they stand, with the security values and `port` for the port.
    TOptionsSettings OnScreen(int32_t port) const;
    // The first `count` values in the order they are read (all by default).
    void ShowOnScreen(const TOptionsSettings& options, int count = 9);
    // Apply's part for the Security dialog: the two values and the password, only when the
    // user went through that dialog with OK.
    void StoreMailSecurity();
    std::string PasswordFor(const std::string& user) const;

    // The Security dialog's values (loaded when shown, changed by that dialog).
    TMailSecurity Security_ = TMailSecurity::None;
    std::string User_;
    bool SecurityChanged_ = false;
    int NotifyShown_ = 0; // the mode as read when shown: written only when changed
    std::optional<std::string> PendingPassword_;
};

} // namespace ferry
