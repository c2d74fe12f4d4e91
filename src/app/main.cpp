#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "app/command_line.h"
#include "app/headless.h"
#include "keyring/secret_service_password_source.h"
#include "mail/password_source.h"
#include "ui/application.h"
#include "ui/display_check.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--headless")
        ferry::BlockEndSignals();
    // The mail password lives in the desktop's Secret Service, never in the settings.
    ferry::SetMailPasswordSource(std::make_shared<ferry::TSecretServicePasswordSource>());
    // Started bare, the program is the tray program. An argument is a switch or a mistake;
    // either way it is answered here and no window opens.
    if (argc > 1)
        return ferry::RunCommandLine(argc, argv);
    // Without any display Qt would abort; say how to run the program instead.
    if (!ferry::DisplayReachable()) {
        std::fprintf(stderr,
                     "ferrydesk: no display to show the windows on; run it under a "
                     "virtual one: xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    QApplication qt(argc, argv);
    ferry::TApplication application;
    application.CreateForms();
    application.HandleTerminationSignals();
    return application.Run();
}
