#pragma once

// The Mail Security dialog: encryption, sign-in and a trial connection.

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "settings/mail_settings.h"
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
// returns when the user applies the options. The trial runs on a thread of its own, so the
// windows keep answering while a server is slow or silent; its report comes back as a queued
// event, and closing the dialog calls it off.
class TFRM_MailSecurity : public QDialog {
    Q_OBJECT
public:
    // `current` are the Options fields as they stand, for the trial connection and for
    // finding the stored password; its security mode and user are the ones shown.
    // passwordStored says whether the keyring holds one.
    TFRM_MailSecurity(QWidget* parent, const TMailSettings& current, bool passwordStored);
    ~TFRM_MailSecurity() override;

    // What the password store said, in LBL_Stored; the whole reason in its tip when there
    // is no store or it failed.
    void ShowStoreAnswer(const TStoreAnswer& answer);

    // `current` with the mode and user chosen here.
    TMailSettings Settings() const;
    // The password typed in; nothing when the field was left empty (keep the stored one).
    std::optional<std::string> NewPassword() const;

    void BTN_CheckClick();
    void done(int result) override;

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

    // Looks up the stored password for the trial connection when none is typed in. Called on
    // the trial's own thread: it must not touch any window.
    std::function<std::string(const std::string& server, const std::string& user)> StoredPassword;

private:
    struct CheckRun;

    void ShowCheckResult(const std::string& report);
    // Calls off a trial under way; its report, should it still come, is not shown.
    void StopCheck();

    TMailSettings Current_;
    std::shared_ptr<CheckRun> Check_;
};

} // namespace ferry
