#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "ui/application.h"
#include "ui/display_check.h"

int main(int argc, char** argv) {
    // Started bare, the program is the tray program. An argument is the autostart switch or a
    // mistake; either way it is answered here and no window opens.
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
    return application.Run();
}
