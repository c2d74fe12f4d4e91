#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "ui/application.h"
#include "ui/display_check.h"

int main(int argc, char** argv) {
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
