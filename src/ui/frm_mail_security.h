#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "settings/mail_security_settings.h"
#include "ui/password_store_query.h"

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
    // server and port are the Options fields as they stand, for the trial connection and for
    // finding the stored password. passwordStored says whether the keyring holds one.
    TFRM_MailSecurity(QWidget* parent, const TMailSecuritySettings& current, bool passwordStored,
                      std::string server, int port);

    // What the password store said, in LBL_Stored; the whole reason in its tip when there
    // is no store or it failed.
    void ShowStoreAnswer(const TStoreAnswer& answer);

    TMailSecuritySettings Settings() const;
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
    std::function<std::string(const std::string& server, const std::string& user)> StoredPassword;

private:
    std::string Server_;
    int Port_;
};

} // namespace ferry
