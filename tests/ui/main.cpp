#include "platform/codepage.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The widget tests start with the C locale's code page whatever the shell's locale
    // (Qt itself wants a UTF-8 locale, so the environment is left alone); tests of other
    // code pages choose theirs.
    ferry::SetSystemCodePage(ferry::CodePage::Windows1252());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
