#include "ui/frm_mail_security.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <mutex>
#include <thread>

#include "base/cancellation.h"
#include "mail/connection_check.h"
#include "ui/ansi_text.h"
#include "ui/application.h"
#include "ui/form_style.h"
#include "ui/guard.h"

namespace ferry {

namespace {

QLabel* Caption(QWidget* parent, const char* name, const char* text, int y, QWidget* buddy) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(8, y + 3);
    label->adjustSize();
    label->setBuddy(buddy);
    return label;
}

} // namespace

// What a running trial and its dialog share. The trial's thread posts its report through it
// while the dialog is there; the dialog cuts the link when it closes and raises the flag, so
// the trial stops waiting on the server within a moment. The thread is not waited for: a
// name look-up cannot be called off, and the window must not hang on one.
struct TFRM_MailSecurity::CheckRun {
    std::mutex Lock;
    TFRM_MailSecurity* Dialog = nullptr;
    std::shared_ptr<CancelFlag> Flag = std::make_shared<CancelFlag>();
};

TFRM_MailSecurity::TFRM_MailSecurity(QWidget* parent, const TMailSettings& current,
                                     bool passwordStored)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      Current_(current) {
    setObjectName(QStringLiteral("FRM_MailSecurity"));
    setWindowTitle(QStringLiteral("Ferrydesk - Mail Security"));
    setFont(FormFont(QStringLiteral("Tahoma")));
    setModal(true);
    setFixedSize(314, 384);
    if (parent)
        setWindowIcon(parent->windowIcon());

    CMB_Security = new QComboBox(this);
    CMB_Security->setObjectName(QStringLiteral("CMB_Security"));
    CMB_Security->addItem(QStringLiteral("None (plain SMTP)"));
    CMB_Security->addItem(QStringLiteral("STARTTLS (usually port 587)"));
    CMB_Security->addItem(QStringLiteral("TLS (usually port 465)"));
    CMB_Security->setGeometry(75, 8, 231, 21);
    CMB_Security->setCurrentIndex(static_cast<int>(current.SMTPSecurity));
    LBL_Security = Caption(this, "LBL_Security", "&Security:", 8, CMB_Security);

    TXT_User = new QLineEdit(AnsiToQString(current.SMTPUser), this);
    TXT_User->setObjectName(QStringLiteral("TXT_User"));
    TXT_User->setGeometry(75, 35, 231, 21);
    LBL_User = Caption(this, "LBL_User", "&User name:", 35, TXT_User);

    TXT_Password = new QLineEdit(this);
    TXT_Password->setObjectName(QStringLiteral("TXT_Password"));
    TXT_Password->setEchoMode(QLineEdit::Password);
    TXT_Password->setGeometry(75, 62, 231, 21);
    LBL_Password = Caption(this, "LBL_Password", "&Password:", 62, TXT_Password);

    LBL_Stored = new QLabel(this);
    LBL_Stored->setObjectName(QStringLiteral("LBL_Stored"));
    ShowStoreAnswer(
        {passwordStored ? TStoreAnswer::TState::Stored : TStoreAnswer::TState::NotStored, {}});
    LBL_Stored->setWordWrap(true);
    LBL_Stored->setGeometry(75, 86, 231, 28);

    BTN_Check = new QPushButton(QStringLiteral("C&heck connection"), this);
    BTN_Check->setObjectName(QStringLiteral("BTN_Check"));
    BTN_Check->setGeometry(8, 117, 110, 25);
    BTN_Check->setAutoDefault(false);

    MEM_Result = new QPlainTextEdit(this);
    MEM_Result->setObjectName(QStringLiteral("MEM_Result"));
    MEM_Result->setReadOnly(true);
    MEM_Result->setGeometry(8, 146, 298, 200);

    BTN_OK = new QPushButton(QStringLiteral("&OK"), this);
    BTN_OK->setObjectName(QStringLiteral("BTN_OK"));
    BTN_OK->setGeometry(214, 352, 45, 25);
    BTN_OK->setDefault(true);
    BTN_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    BTN_Cancel->setObjectName(QStringLiteral("BTN_Cancel"));
    BTN_Cancel->setGeometry(265, 352, 42, 25);
    BTN_Cancel->setAutoDefault(false);

    connect(BTN_Check, &QPushButton::clicked, this, Guarded([this] { BTN_CheckClick(); }));
    connect(BTN_OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(BTN_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFRM_MailSecurity::ShowStoreAnswer(const TStoreAnswer& answer) {
    using S = TStoreAnswer::TState;
    switch (answer.State) {
    case S::Asking:
        LBL_Stored->setText(QString::fromUtf8("Asking the desktop's password store…"));
        break;
    case S::Stored:
        LBL_Stored->setText(QStringLiteral("A password is stored in the keyring; leave the "
                                           "field empty to keep it."));
        break;
    case S::NotStored:
        LBL_Stored->setText(QStringLiteral("No password is stored in the keyring."));
        break;
    case S::Missing:
        LBL_Stored->setText(
            QStringLiteral("No password store is running; install one (e.g. gnome-keyring)."));
        break;
    case S::Failed:
        LBL_Stored->setText(QStringLiteral("The password store gave an error (see its tip)."));
        break;
    }
    LBL_Stored->setToolTip(QString::fromUtf8(answer.Message.c_str()));
}

TMailSettings TFRM_MailSecurity::Settings() const {
    TMailSettings s = Current_;
    s.SMTPSecurity = static_cast<TMailSecurity>(std::max(0, CMB_Security->currentIndex()));
    s.SMTPUser = QStringToAnsi(TXT_User->text());
    return s;
}

std::optional<std::string> TFRM_MailSecurity::NewPassword() const {
    if (TXT_Password->text().isEmpty())
        return std::nullopt;
    return TXT_Password->text().toStdString();
}

TFRM_MailSecurity::~TFRM_MailSecurity() {
    StopCheck();
}

void TFRM_MailSecurity::done(int result) {
    StopCheck();
    QDialog::done(result);
}

void TFRM_MailSecurity::StopCheck() {
    if (!Check_)
        return;
    {
        std::lock_guard<std::mutex> guard(Check_->Lock);
        Check_->Dialog = nullptr;
    }
    Check_->Flag->Cancel();
    Check_.reset();
    BTN_Check->setEnabled(true);
    unsetCursor();
}

void TFRM_MailSecurity::BTN_CheckClick() {
    if (Check_)
        return;
    const TMailSettings mail = Settings();
    std::string password;
    std::function<std::string(const std::string&, const std::string&)> lookUp;
    if (auto typed = NewPassword())
        password = *typed;
    else if (!mail.SMTPUser.empty())
        lookUp = StoredPassword;
    // A trial should not take a minute when a server stays silent.
    const MailLimits limits{15000, 15000};

    MEM_Result->setPlainText(QStringLiteral("Connecting to %1:%2 …")
                                 .arg(AnsiToQString(mail.SMTPServer))
                                 .arg(mail.SMTPPort));
    BTN_Check->setEnabled(false);
    setCursor(Qt::BusyCursor);
    auto run = std::make_shared<CheckRun>();
    run->Dialog = this;
    Check_ = run;
    std::thread([run, mail, password, limits, lookUp]() mutable {
        std::string report;
        try {
            ScopedCancelFlag scope(run->Flag);
            if (lookUp)
                password = lookUp(mail.SMTPServer, mail.SMTPUser);
            report = CheckMailConnection(mail, password, limits).text;
        } catch (const std::exception& e) {
            report = e.what();
        }
        std::lock_guard<std::mutex> guard(run->Lock);
        if (TFRM_MailSecurity* dialog = run->Dialog)
            QMetaObject::invokeMethod(
                dialog, [dialog, report] { dialog->ShowCheckResult(report); },
                Qt::QueuedConnection);
    }).detach();
}

void TFRM_MailSecurity::ShowCheckResult(const std::string& report) {
    Check_.reset();
    BTN_Check->setEnabled(true);
    unsetCursor();
    MEM_Result->setPlainText(QString::fromUtf8(report.c_str()).trimmed());
}

} // namespace ferry
