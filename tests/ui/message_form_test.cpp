#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include "modal_driver.h"
#include "ui/message_form.h"
#include "ui/user_prompts.h"

namespace ferry {
namespace {

using test::WhenModalOpens;

constexpr TMsgDlgButtons kYesNo = Btn(mbYes) | Btn(mbNo);
const char* const kQuit = "Do you really want to Quit the Program?";

TEST(MessageForm, QuitQuestionAnswersByKeyAndCloseBox) {
    // Esc is No.
    WhenModalOpens([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(MessageDlg(kQuit, TMsgDlgType::mtConfirmation, kYesNo), mrNo);

    // Enter, with the focus where the box put it, is Yes.
    WhenModalOpens([](QWidget* box) {
        QWidget* focused = box->focusWidget();
        ASSERT_NE(focused, nullptr);
        EXPECT_EQ(qobject_cast<QPushButton*>(focused)->text(), QStringLiteral("&Yes"));
        QTest::keyClick(focused, Qt::Key_Return);
    });
    EXPECT_EQ(MessageDlg(kQuit, TMsgDlgType::mtConfirmation, kYesNo), mrYes);

    // The title bar's close box gives Cancel, which lets the program quit.
    WhenModalOpens([](QWidget* box) { box->close(); });
    EXPECT_EQ(MessageDlg(kQuit, TMsgDlgType::mtConfirmation, kYesNo), mrCancel);

    // Clicking No.
    WhenModalOpens(
        [](QWidget* box) { box->findChild<QPushButton*>(QStringLiteral("No"))->click(); });
    EXPECT_EQ(MessageDlg(kQuit, TMsgDlgType::mtConfirmation, kYesNo), mrNo);
}

TEST(MessageForm, InformationAndWarningBoxesCloseWithOkOnBothKeys) {
    for (auto type : {TMsgDlgType::mtCustom, TMsgDlgType::mtWarning}) {
        for (auto key : {Qt::Key_Escape, Qt::Key_Return}) {
            WhenModalOpens([key](QWidget* box) {
                QTest::keyClick(key == Qt::Key_Return ? box->focusWidget() : box, key);
            });
            EXPECT_EQ(MessageDlg("All Fields must be completed", type, Btn(mbOK)), mrOk);
        }
    }
    TMessageForm info("All Fields must be completed", TMsgDlgType::mtCustom, Btn(mbOK));
    EXPECT_EQ(info.windowTitle(), QStringLiteral("Ferrydesk"));
    EXPECT_EQ(info.findChild<QLabel*>(QStringLiteral("Image")), nullptr);
    TMessageForm warning("An Error occured trying to connect to the SMTP server",
                         TMsgDlgType::mtWarning, Btn(mbOK));
    EXPECT_EQ(warning.windowTitle(), QStringLiteral("Warning"));
    ASSERT_NE(warning.findChild<QLabel*>(QStringLiteral("Image")), nullptr);
    EXPECT_EQ(warning.findChild<QLabel*>(QStringLiteral("Image"))->size(), QSize(32, 32));
    TMessageForm confirm(kQuit, TMsgDlgType::mtConfirmation, kYesNo);
    EXPECT_EQ(confirm.windowTitle(), QStringLiteral("Confirm"));
}

TEST(MessageForm, CtrlCCopiesTheBoxAsText) {
    QGuiApplication::clipboard()->clear();
    WhenModalOpens([](QWidget* box) {
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier); // not alone
        EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        EXPECT_TRUE(box->isVisible()) << "copying must not close the box";
        QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(MessageDlg(kQuit, TMsgDlgType::mtConfirmation, kYesNo), mrNo);
    const QString rule = QStringLiteral("---------------------------\r\n");
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              rule + QStringLiteral("Confirm\r\n") + rule + QString::fromLatin1(kQuit) +
                  QStringLiteral("\r\n") + rule + QStringLiteral("Yes   No   \r\n") + rule);
}

TEST(MessageForm, DefaultAndCancelButtonsFollowTheButtonSet) {
    TMessageForm yesNoCancel("q", TMsgDlgType::mtConfirmation,
                             Btn(mbYes) | Btn(mbNo) | Btn(mbCancel));
    EXPECT_EQ(yesNoCancel.DefaultButton(), yesNoCancel.ButtonFor(mbYes));
    EXPECT_EQ(yesNoCancel.CancelButton(), yesNoCancel.ButtonFor(mbCancel));
    TMessageForm okCancel("q", TMsgDlgType::mtWarning, Btn(mbOK) | Btn(mbCancel));
    EXPECT_EQ(okCancel.DefaultButton(), okCancel.ButtonFor(mbOK));
    TMessageForm retry("q", TMsgDlgType::mtError, Btn(mbAbort) | Btn(mbRetry) | Btn(mbIgnore));
    EXPECT_EQ(retry.DefaultButton(), retry.ButtonFor(mbRetry));
    EXPECT_EQ(retry.CancelButton(), nullptr);
    // Buttons always stand in one order, whatever order the set was written in.
    TMessageForm all("q", TMsgDlgType::mtInformation, Btn(mbHelp) | Btn(mbOK) | Btn(mbYes));
    EXPECT_LT(all.ButtonFor(mbYes)->x(), all.ButtonFor(mbOK)->x());
    EXPECT_LT(all.ButtonFor(mbOK)->x(), all.ButtonFor(mbHelp)->x());
}

TEST(MessageForm, LongTextWrapsAtHalfTheScreenAndButtonsShareOneWidth) {
    const int halfScreen = QGuiApplication::primaryScreen()->geometry().width() / 2;
    std::string longText;
    for (int i = 0; i < 60; ++i)
        longText += "routing ";
    TMessageForm shortBox("Short.", TMsgDlgType::mtWarning, Btn(mbOK));
    TMessageForm longBox(longText, TMsgDlgType::mtWarning, Btn(mbOK));
    auto* text = longBox.findChild<QLabel*>(QStringLiteral("Message"));
    ASSERT_NE(text, nullptr);
    EXPECT_LE(text->width(), halfScreen + 2);
    EXPECT_GT(text->height(), 3 * text->fontMetrics().height());
    EXPECT_GT(longBox.height(), shortBox.height());

    TMessageForm wide("q", TMsgDlgType::mtConfirmation,
                      Btn(mbYes) | Btn(mbNo) | Btn(mbYesToAll) | Btn(mbNoToAll));
    wide.show();
    const int w = wide.ButtonFor(mbYes)->width();
    for (auto b : {mbNo, mbYesToAll, mbNoToAll})
        EXPECT_EQ(wide.ButtonFor(b)->width(), w);
    QRect row = wide.ButtonFor(mbYes)->geometry();
    for (auto b : {mbNo, mbYesToAll, mbNoToAll})
        row = row.united(wide.ButtonFor(b)->geometry());
    EXPECT_LT(wide.ButtonFor(mbNoToAll)->x(), wide.ButtonFor(mbYesToAll)->x());
    EXPECT_NEAR(row.center().x(), wide.width() / 2, 2) << "the row of buttons is centred";
}

TEST(ErrorBox, IsTheSystemBoxWithTheStopIconTheTitleAndOneOk) {
    QtUserPrompts prompts;
    bool seen = false;
    WhenModalOpens([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        seen = true;
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Ferrydesk"));
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_EQ(box->text(), QStringLiteral("'x' is not a valid integer value."));
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        QTest::keyClick(box, Qt::Key_Escape);
    });
    prompts.ErrorBox(ErrorBoxText("'x' is not a valid integer value"));
    EXPECT_TRUE(seen);
}

TEST(ErrorBox, CtrlCCopiesItLikeTheProgramsOwnBoxes) {
    QtUserPrompts prompts;
    QGuiApplication::clipboard()->clear();
    WhenModalOpens([](QWidget* box) {
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        EXPECT_TRUE(box->isVisible()) << "copying must not close the box";
        QTest::keyClick(box, Qt::Key_Escape);
    });
    prompts.ErrorBox(ErrorBoxText("File access denied"));
    const QString rule = QStringLiteral("---------------------------\r\n");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), rule + QStringLiteral("Ferrydesk\r\n") + rule +
                                                        QStringLiteral("File access denied.\r\n") +
                                                        rule + QStringLiteral("OK   \r\n") + rule);
}

// The browser opens where the user is most likely to look: the field's folder, else the
// desktop folder, else home; never the program's working folder.
TEST(FolderBrowser, StartsAtTheFieldsFolderElseTheDesktopElseHome) {
    const QString root = QDir::tempPath() + QStringLiteral("/ferry-browse-") +
                         QString::number(QCoreApplication::applicationPid());
    const QString home = root + QStringLiteral("/home");
    const QString desktop = root + QStringLiteral("/Schreibtisch");
    const QString field = root + QStringLiteral("/in");
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(desktop) && QDir().mkpath(field));
    const QByteArray oldHome = qgetenv("HOME"), oldDesktop = qgetenv("XDG_DESKTOP_DIR"),
                     oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toUtf8());
    qunsetenv("XDG_DESKTOP_DIR");

    EXPECT_EQ(FolderBrowserStart(field.toStdString()), field.toStdString());
    EXPECT_EQ(FolderBrowserStart(""), home.toStdString()) << "no desktop folder: home";
    EXPECT_EQ(FolderBrowserStart((root + QStringLiteral("/gone")).toStdString()),
              home.toStdString());
    qputenv("XDG_DESKTOP_DIR", desktop.toUtf8());
    EXPECT_EQ(FolderBrowserStart(""), desktop.toStdString());
    EXPECT_NE(FolderBrowserStart(""), QDir::currentPath().toStdString());

    qputenv("HOME", oldHome);
    qputenv("XDG_CONFIG_HOME", oldConfig);
    if (oldDesktop.isNull())
        qunsetenv("XDG_DESKTOP_DIR");
    else
        qputenv("XDG_DESKTOP_DIR", oldDesktop);
    if (oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    QDir(root).removeRecursively();
}

TEST(ErrorBox, FullStopOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ErrorBoxText("'' is not a valid integer value"), "'' is not a valid integer value.");
    EXPECT_EQ(ErrorBoxText("Failed to get data for 'SMTPPort'"),
              "Failed to get data for 'SMTPPort'");
    EXPECT_EQ(ErrorBoxText("I/O error 32"), "I/O error 32.");
    EXPECT_EQ(ErrorBoxText("Why?"), "Why?.");
    EXPECT_EQ(ErrorBoxText("(done)"), "(done)");
    EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("/"), "/.");
    EXPECT_EQ(ErrorBoxText("caf\xE9"), "caf\xE9."); // a byte above 127 sorts after "."
    EXPECT_EQ(ErrorBoxText(""), "");
}

} // namespace
} // namespace ferry
