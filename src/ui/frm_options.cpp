#include "ui/frm_options.h"
#include "ui/window_frame.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <limits>

#include "base/exception.h"
#include "base/text.h"
#include "mail/notification.h"
#include "mail/password_source.h"
#include "ui/ansi_text.h"
#include "ui/application.h"
#include "ui/form_style.h"
#include "ui/frm_mail_security.h"
#include "ui/guard.h"
#include "ui/password_store_query.h"
#include "ui/user_prompts.h"

namespace ferry {

namespace {

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* text, int y) {
    auto* check = new QCheckBox(QString::fromLatin1(text), parent);
    check->setObjectName(QString::fromLatin1(name));
    check->setGeometry(8, y, 298, 17);
    return check;
}

// The busy cursor over the whole program for as long as it lives, gone however the
// scope is left.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace

TFRM_Options::TFRM_Options(TApplication& app, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), App_(app) {
    setObjectName(QStringLiteral("FRM_Options"));
    setWindowTitle(QStringLiteral("Ferrydesk - Options"));
    setFont(FormFont(QStringLiteral("Tahoma")));
    resize(314, 245);
    setWindowIcon(App_.Icon);
    KeepFromMinimising(this);

    Label1 = MakeLabel(this, "Label1", "General", 8, 8, true);
    CHK_CaseSen = MakeCheck(this, "CHK_CaseSen", "Match Strings are case &sensitive", 27);
    Label2 = MakeLabel(this, "Label2", "Notification", 8, 50, true);
    CHK_SMTP = MakeCheck(this, "CHK_SMTP", "Allow &email notifications", 69);
    Label3 = MakeLabel(this, "Label3", "SMTP Server", 8, 92);
    TXT_SMTPServer = MakeEdit(this, "TXT_SMTPServer", 75, 92, 121);
    Label4 = MakeLabel(this, "Label4", "SMTP Port", 202, 92);
    TXT_SMTPPort = MakeEdit(this, "TXT_SMTPPort", 253, 92, 53);
    Label5 = MakeLabel(this, "Label5", "From:", 8, 133);
    TXT_SMTPFROM = MakeEdit(this, "TXT_SMTPFROM", 75, 130, 231);
    Label6 = MakeLabel(this, "Label6", "To:", 8, 160);
    TXT_SMTPTO = MakeEdit(this, "TXT_SMTPTO", 75, 157, 231);
    Label7 = MakeLabel(this, "Label7", "Message:", 8, 184);
    TXT_SMTPMessage = MakeEdit(this, "TXT_SMTPMessage", 75, 181, 231);
    BTN_Test = MakeButton(this, "BTN_Test", "&Test", 160, 212, 48);
    BTN_Apply = MakeButton(this, "BTN_Apply", "&Apply", 214, 212, 45);
    BTN_Cancel = MakeButton(this, "BTN_Cancel", "&Cancel", 265, 212, 42);
    // In the free space left of Test; no other control moves for it.
    BTN_Security = MakeButton(this, "BTN_Security", "", 8, 212, 72);
    BTN_Security->setText(QString::fromUtf8("Se&curity…"));
    // Right of the notification switch's text; the items in the order of SMTPNotify's values.
    CMB_Notify = new QComboBox(this);
    CMB_Notify->setObjectName(QStringLiteral("CMB_Notify"));
    CMB_Notify->setGeometry(176, 66, 130, 21);
    CMB_Notify->addItems({QStringLiteral("After each move"), QStringLiteral("Once per pass"),
                          QStringLiteral("Only files left")});
    CMB_Notify->setToolTip(
        QStringLiteral("When a notification goes out: after every attempt to move a file; one "
                       "message per pass that moved or left files, listing them; or only for "
                       "files left behind and failed passes, once per file until it changes"));

    setTabOrder(BTN_Apply, BTN_Cancel);
    setTabOrder(BTN_Cancel, CHK_CaseSen);
    setTabOrder(CHK_CaseSen, CHK_SMTP);
    setTabOrder(CHK_SMTP, CMB_Notify);
    setTabOrder(CMB_Notify, TXT_SMTPServer);
    setTabOrder(TXT_SMTPServer, TXT_SMTPPort);
    setTabOrder(TXT_SMTPPort, TXT_SMTPFROM);
    setTabOrder(TXT_SMTPFROM, TXT_SMTPTO);
    setTabOrder(TXT_SMTPTO, TXT_SMTPMessage);
    setTabOrder(TXT_SMTPMessage, BTN_Test);
    setTabOrder(BTN_Test, BTN_Security);

    connect(CHK_SMTP, &QCheckBox::clicked, this, Guarded([this] { CHK_SMTPClick(); }));
    connect(BTN_Apply, &QPushButton::clicked, this, Guarded([this] { BTN_ApplyClick(); }));
    connect(BTN_Cancel, &QPushButton::clicked, this, Guarded([this] { BTN_CancelClick(); }));
    connect(BTN_Test, &QPushButton::clicked, this, Guarded([this] { BTN_TestClick(); }));
    connect(BTN_Security, &QPushButton::clicked, this, Guarded([this] { BTN_SecurityClick(); }));
}

void TFRM_Options::Show() {
    ShowCentredAndRaised(this);
    BTN_Apply->setFocus(Qt::OtherFocusReason);
}

void TFRM_Options::enablesmtp(bool flag) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{TXT_SMTPServer, TXT_SMTPPort, TXT_SMTPFROM, TXT_SMTPTO,
                                         TXT_SMTPMessage, BTN_Test, BTN_Security, CMB_Notify})
        w->setEnabled(flag);
}

TOptionsSettings TFRM_Options::OnScreen(int32_t port) const {
    TOptionsSettings options;
    TMailSettings& mail = options.Mail;
    mail.SMTPEnabled = CHK_SMTP->isChecked();
    mail.SMTPServer = QStringToAnsi(TXT_SMTPServer->text());
    mail.SMTPPort = port;
    mail.SMTPFrom = QStringToAnsi(TXT_SMTPFROM->text());
    mail.SMTPTo = QStringToAnsi(TXT_SMTPTO->text());
    mail.SMTPMessage = QStringToAnsi(TXT_SMTPMessage->text());
    mail.SMTPSecurity = Security_;
    mail.SMTPUser = User_;
    options.MSCaseSensitive = CHK_CaseSen->isChecked();
    return options;
}

void TFRM_Options::ShowOnScreen(const TOptionsSettings& options, int count) {
    const TMailSettings& mail = options.Mail;
    if (count > 0) {
        CHK_SMTP->setChecked(mail.SMTPEnabled);
        BTN_Test->setEnabled(mail.SMTPEnabled);
    }
    if (count > 1)
        TXT_SMTPPort->setText(QString::number(mail.SMTPPort));
    const std::pair<QLineEdit*, const std::string*> texts[] = {
        {TXT_SMTPServer, &mail.SMTPServer},
        {TXT_SMTPFROM, &mail.SMTPFrom},
        {TXT_SMTPTO, &mail.SMTPTo},
        {TXT_SMTPMessage, &mail.SMTPMessage}};
    for (int i = 0; i < 4 && count > 2 + i; ++i)
        texts[i].first->setText(AnsiToQString(*texts[i].second));
    if (count > 6)
        CHK_CaseSen->setChecked(options.MSCaseSensitive);
    if (count > 7) {
        Security_ = mail.SMTPSecurity;
        User_ = mail.SMTPUser;
    }
}

void TFRM_Options::FormShow() {
    SecurityChanged_ = false;
    PendingPassword_.reset();
    Security_ = TMailSecurity::None;
    User_.clear();
    TOptionsSettings options;
    int read = 0;
    try {
        if (ReadOptionsSettings(options, read))
            ShowOnScreen(options);
    } catch (...) {
        ShowOnScreen(options, read); // what was read before the failing value stays on screen
        throw;
    }
    NotifyShown_ = static_cast<int>(ReadNotifyMode());
    CMB_Notify->setCurrentIndex(NotifyShown_);
    enablesmtp(CHK_SMTP->isChecked());
}

void TFRM_Options::CHK_SMTPClick() {
    enablesmtp(CHK_SMTP->isChecked());
}

void TFRM_Options::BTN_ApplyClick() {
    WriteOptionsSettings(OnScreen(0), QStringToAnsi(TXT_SMTPPort->text()), SecurityChanged_);
    if (CMB_Notify->currentIndex() != NotifyShown_)
        WriteNotifyMode(static_cast<TNotifyMode>(CMB_Notify->currentIndex()));
    StoreMailSecurity();
    CloseAndShowMain();
}

void TFRM_Options::BTN_CancelClick() {
    CloseAndShowMain();
}

void TFRM_Options::BTN_TestClick() {
    BusyCursor busy;
    const int32_t port = StrToInt(QStringToAnsi(TXT_SMTPPort->text()));
    SendMail(QStringToAnsi(TXT_SMTPServer->text()), static_cast<uint16_t>(port));
}

void TFRM_Options::SendMail(const std::string& server, uint16_t port) {
    TMailSettings mail = OnScreen(port).Mail;
    mail.SMTPServer = server;
    const std::string password = User_.empty() ? std::string() : PasswordFor(User_);
    SendNotificationMail(mail, password, MailLimits(), [this](const std::exception&) {
        App_.Prompts().MessageDlg("An Error occured trying to connect to the SMTP server",
                                  TMsgDlgType::mtWarning, Btn(mbOK));
    });
}

std::string TFRM_Options::PasswordFor(const std::string& user) const {
    if (PendingPassword_)
        return *PendingPassword_;
    const std::string server = QStringToAnsi(TXT_SMTPServer->text());
    std::string password;
    RunOffUiThread([&] { password = LookUpMailPassword(server, user); });
    return password;
}

void TFRM_Options::BTN_SecurityClick() {
    const std::string server = QStringToAnsi(TXT_SMTPServer->text());
    TFRM_MailSecurity dialog(this,
                             OnScreen(static_cast<uint16_t>(TXT_SMTPPort->text().toInt())).Mail,
                             PendingPassword_.has_value());
    // Asked on the trial's own thread: what it needs is taken now, not read from the window.
    dialog.StoredPassword = [pending = PendingPassword_, server](const std::string&,
                                                                 const std::string& user) {
        return pending ? *pending : LookUpMailPassword(server, user);
    };
    // The dialog opens at once; the store's answer follows when it comes.
    if (!PendingPassword_) {
        dialog.ShowStoreAnswer({});
        AskPasswordStore(&dialog, server, User_,
                         [&dialog](const TStoreAnswer& answer) { dialog.ShowStoreAnswer(answer); });
    }
    CentreOnScreen(&dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const TMailSettings chosen = dialog.Settings();
    Security_ = chosen.SMTPSecurity;
    User_ = chosen.SMTPUser;
    SecurityChanged_ = true;
    if (auto typed = dialog.NewPassword())
        PendingPassword_ = typed;
}

// After the values are written: the password goes to the keyring, never to the hive.
void TFRM_Options::StoreMailSecurity() {
    if (!SecurityChanged_)
        return;
    if (PendingPassword_ && !User_.empty()) {
        auto source = MailPasswordSource();
        if (!source)
            throw Exception("No password store is available; the password was not saved.");
        const std::string server = QStringToAnsi(TXT_SMTPServer->text());
        try {
            RunOffUiThread([&] { source->Store(server, User_, *PendingPassword_); });
        } catch (const EPasswordStoreMissing& e) {
            throw Exception(std::string("The password was not saved. ") + e.what());
        }
    }
    SecurityChanged_ = false;
    PendingPassword_.reset();
}

void TFRM_Options::CloseAndShowMain() {
    hide();
    if (OnClosed)
        OnClosed();
}

void TFRM_Options::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    OfferNoFrameButtons(this);
    if (!event->spontaneous())
        RunGuarded([this] { FormShow(); });
}

void TFRM_Options::closeEvent(QCloseEvent* event) {
    // Once the program is ending it may go, or the loop would never end.
    event->setAccepted(ApplicationTerminated());
}

} // namespace ferry
