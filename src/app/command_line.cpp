#include "app/command_line.h"

#include <cstdio>
#include <string_view>

#include "app/headless.h"
#include "app/run_once.h"
#include "platform/autostart.h"

namespace ferry {

namespace {

const char* const Usage = "Usage: ferrydesk                      start the program\n"
                          "       ferrydesk --autostart on|off  start, or no longer start, "
                          "with the desktop session\n"
                          "       ferrydesk --run-once          run every stored task once, "
                          "without windows\n"
                          "       ferrydesk --headless          route on the stored settings "
                          "until stopped, without windows\n";

int Refuse(const std::string& why) {
    std::fprintf(stderr, "ferrydesk: %s\n%s", why.c_str(), Usage);
    return 2;
}

int SwitchAutostart(bool on) {
    const AutostartChange change = SetAutostart(on);
    switch (change.Result) {
    case AutostartChange::Written:
        std::printf("Ferrydesk will start with the desktop session (wrote %s).\n",
                    change.Path.c_str());
        return 0;
    case AutostartChange::Removed:
        std::printf("Ferrydesk will no longer start with the desktop session (removed %s).\n",
                    change.Path.c_str());
        return 0;
    case AutostartChange::WasNotSet:
        std::printf("Ferrydesk was not set to start with the desktop session (%s does not "
                    "exist).\n",
                    change.Path.c_str());
        return 0;
    case AutostartChange::Failed:
        break;
    }
    std::fprintf(stderr, "ferrydesk: %s\n", change.Error.c_str());
    return 1;
}

} // namespace

int RunCommandLine(int argc, char** argv) {
    const std::string_view first = argv[1];
    if (first == "--help" || first == "-h") {
        if (argc != 2)
            return Refuse("--help takes no value.");
        std::printf("%s", Usage);
        return 0;
    }
    if (first == "--run-once") {
        if (argc != 2)
            return Refuse("--run-once takes no value.");
        return RunOnce();
    }
    if (first == "--headless") {
        if (argc != 2)
            return Refuse("--headless takes no value.");
        return RunHeadless();
    }
    if (first == "--autostart") {
        if (argc != 3)
            return Refuse("--autostart needs one value, on or off.");
        const std::string_view value = argv[2];
        if (value == "on" || value == "off")
            return SwitchAutostart(value == "on");
        return Refuse("--autostart takes on or off, not '" + std::string(value) + "'.");
    }
    return Refuse("unknown argument '" + std::string(first) +
                  "'; the program takes no arguments but --autostart, --run-once and --headless.");
}

} // namespace ferry
