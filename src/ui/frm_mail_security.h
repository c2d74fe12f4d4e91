#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "settings/mail_settings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ferry {

// "Ferrydesk - Mail Security": how the notification e-mail reaches the server (no
// encryption, STARTTLS, or TLS from the first byte), the user name to sign in with and its
// password, and a trial connection. Opened from the Options dialog, which stores what it
// returns when the user applies the options.
class TFRM_MailSecurity : public QDialog {
    Q_OBJECT
public:
    // `current` are the Options fields as they stand, for the trial connection; its security
    // mode and user are the ones shown. passwordStored says whether the keyring holds one.
    TFRM_MailSecurity(QWidget* parent, const TMailSettings& current, bool passwordStored);

    // `current` with the mode and user chosen here.
    TMailSettings Settings() const;
    // The password typed in; nothing when the field was left empty (keep the stored one).
    std::optional<std::string> NewPassword() const;

    void BTN_CheckClick();

    QLabel* LBL_Security;
    QComboBox* CMB_Security;
    QLabel* LBL_User;
    QLineEdit* TXT_User;
    QLabel* LBL_Password;
    QLineEdit* TXT_Password;
    QLabel* LBL_Stored;
    QPushButton* BTN_Check;
    QPlainTextEdit* MEM_Result;
    QPushButton* BTN_OK;
    QPushButton* BTN_Cancel;

    // Looks up the stored password for the trial connection when none is typed in.
    std::function<std::string(const std::string& user)> StoredPassword;

private:
    TMailSettings Current_;
};

} // namespace ferry
