#include "ui/message_form.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/ansi_text.h"
#include "ui/application.h"
#include "ui/guard.h"

namespace ferry {

namespace {

constexpr int kMargin = 12;
constexpr int kButtonHeight = 25;
constexpr int kMinButtonWidth = 75;
constexpr int kButtonGap = 6;

int ResultOf(TMsgDlgBtn b) {
    switch (b) {
    case mbYes:
        return mrYes;
    case mbNo:
        return mrNo;
    case mbOK:
        return mrOk;
    case mbCancel:
        return mrCancel;
    case mbAbort:
        return mrAbort;
    case mbRetry:
        return mrRetry;
    case mbIgnore:
        return mrIgnore;
    case mbAll:
        return mrAll;
    case mbNoToAll:
        return mrNoToAll;
    case mbYesToAll:
        return mrYesToAll;
    case mbHelp:
        return mrNone;
    }
    return mrNone;
}

QStyle::StandardPixmap IconFor(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return QStyle::SP_MessageBoxWarning;
    case TMsgDlgType::mtError:
        return QStyle::SP_MessageBoxCritical;
    case TMsgDlgType::mtInformation:
        return QStyle::SP_MessageBoxInformation;
    case TMsgDlgType::mtConfirmation:
        return QStyle::SP_MessageBoxQuestion;
    case TMsgDlgType::mtCustom:
        break;
    }
    return QStyle::SP_CustomBase;
}

QString WithoutAmpersands(QString text) {
    return text.remove(QLatin1Char('&'));
}

} // namespace

QString TMessageForm::CaptionFor(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return QStringLiteral("Warning");
    case TMsgDlgType::mtError:
        return QStringLiteral("Error");
    case TMsgDlgType::mtInformation:
        return QStringLiteral("Information");
    case TMsgDlgType::mtConfirmation:
        return QStringLiteral("Confirm");
    case TMsgDlgType::mtCustom:
        break;
    }
    return AnsiToQString(ApplicationTitle());
}

QString TMessageForm::ButtonCaption(TMsgDlgBtn b) {
    static const char* const kCaptions[] = {"&Yes",       "&No",         "OK",      "Cancel",
                                            "&Abort",     "&Retry",      "&Ignore", "&All",
                                            "N&o to All", "Yes to &All", "&Help"};
    return QString::fromLatin1(kCaptions[b]);
}

TMessageForm::TMessageForm(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons,
                           QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), Caption_(CaptionFor(type)),
      Message_(AnsiToQString(message)) {
    setObjectName(QStringLiteral("MessageForm"));
    setWindowTitle(Caption_);
    setWindowModality(Qt::ApplicationModal);
    setFont(QApplication::font("QMessageBox"));

    // Wrap the text at half the screen's width and size the label to what it then needs.
    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const int wrapWidth = screen ? screen->geometry().width() / 2 : 512;
    auto* text = new QLabel(Message_, this);
    text->setObjectName(QStringLiteral("Message"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    const QRect textRect = text->fontMetrics().boundingRect(
        QRect(0, 0, wrapWidth, 100000), Qt::TextWordWrap | Qt::AlignLeft, Message_);
    text->setFixedSize(textRect.width() + 2, textRect.height());

    auto* top = new QHBoxLayout;
    top->setSpacing(kMargin);
    if (type != TMsgDlgType::mtCustom) {
        auto* icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("Image"));
        icon->setPixmap(style()->standardIcon(IconFor(type), nullptr, this).pixmap(32, 32));
        icon->setFixedSize(32, 32);
        top->addWidget(icon, 0, Qt::AlignTop);
    }
    top->addWidget(text, 0, Qt::AlignTop);
    top->addStretch(1);

    // One width for every button: the widest caption's, but never below the usual width.
    int buttonWidth = kMinButtonWidth;
    for (unsigned b = mbYes; b <= mbHelp; ++b) {
        if (buttons & Btn(static_cast<TMsgDlgBtn>(b))) {
            const int w = fontMetrics().horizontalAdvance(
                              WithoutAmpersands(ButtonCaption(static_cast<TMsgDlgBtn>(b)))) +
                          16;
            buttonWidth = std::max(buttonWidth, w);
        }
    }
    auto* row = new QHBoxLayout;
    row->setSpacing(kButtonGap);
    row->addStretch(1);
    for (unsigned b = mbYes; b <= mbHelp; ++b) {
        const auto kind = static_cast<TMsgDlgBtn>(b);
        if (!(buttons & Btn(kind)))
            continue;
        auto* button = new QPushButton(ButtonCaption(kind), this);
        button->setObjectName(WithoutAmpersands(ButtonCaption(kind)).remove(QLatin1Char(' ')));
        button->setFixedSize(buttonWidth, kButtonHeight);
        const int result = ResultOf(kind);
        if (kind != mbHelp) // the program has no help to open
            connect(button, &QPushButton::clicked, this, Guarded([this, result] { done(result); }));
        Buttons_.emplace_back(kind, button);
        row->addWidget(button);
    }
    row->addStretch(1);

    Default_ = ButtonFor(mbOK)    ? ButtonFor(mbOK)
               : ButtonFor(mbYes) ? ButtonFor(mbYes)
                                  : ButtonFor(mbRetry);
    Cancel_ = ButtonFor(mbCancel) ? ButtonFor(mbCancel)
              : ButtonFor(mbNo)   ? ButtonFor(mbNo)
                                  : ButtonFor(mbOK);
    for (auto& [kind, button] : Buttons_)
        button->setAutoDefault(true);
    if (Default_) {
        Default_->setDefault(true);
        Default_->setFocus(Qt::OtherFocusReason);
    }

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    outer->setSpacing(kMargin + 4);
    outer->addLayout(top);
    outer->addLayout(row);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();

    if (screen) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

QPushButton* TMessageForm::ButtonFor(TMsgDlgBtn b) const {
    for (const auto& [kind, button] : Buttons_)
        if (kind == b)
            return button;
    return nullptr;
}

QString BoxCopyText(const QString& caption, const QString& message, const QStringList& buttons) {
    const QString rule = QString(27, QLatin1Char('-')) + QStringLiteral("\r\n");
    QString row;
    for (const QString& button : buttons)
        row += WithoutAmpersands(button) + QStringLiteral("   ");
    return rule + caption + QStringLiteral("\r\n") + rule + message + QStringLiteral("\r\n") +
           rule + row + QStringLiteral("\r\n") + rule;
}

QString TMessageForm::CopyText() const {
    QStringList buttons;
    for (const auto& [kind, button] : Buttons_)
        buttons << button->text();
    return BoxCopyText(Caption_, Message_, buttons);
}

void TMessageForm::reject() {
    done(mrCancel);
}

void TMessageForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_C && event->modifiers() == Qt::ControlModifier) {
        QApplication::beep();
        QGuiApplication::clipboard()->setText(CopyText());
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (Cancel_)
            Cancel_->click();
        else
            reject();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

int MessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons) {
    if (ApplicationTerminated())
        return mrCancel;
    TMessageForm form(message, type, buttons, QApplication::activeWindow());
    // The box always shows the normal arrow; a busy cursor set before comes back afterwards.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = form.exec();
    if (busy)
        QApplication::restoreOverrideCursor();
    return result;
}

} // namespace ferry
