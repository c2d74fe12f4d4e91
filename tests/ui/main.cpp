#include "platform/codepage.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The widget tests start with the C locale's code page whatever the shell's locale
    // (Qt itself wants a UTF-8 locale, so the environment is left alone); tests of other
    // code pages choose theirs.
    ferry::SetSystemCodePage(ferry::CodePage::Windows1252());
    // The main window keeps its activity history in the state folder: the tests (and the
    // programs they start) keep theirs in a folder of the run's own, never the user's.
    QTemporaryDir state;
    if (state.isValid())
        qputenv("XDG_STATE_HOME", state.path().toUtf8());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
