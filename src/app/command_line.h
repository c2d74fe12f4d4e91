#pragma once

#include <optional>
#include <string>

namespace ferry {

// Where this user's desktop session looks for programs to start with it:
// $XDG_CONFIG_HOME/autostart/ferrydesk.desktop, or ~/.config/autostart/ferrydesk.desktop when
// XDG_CONFIG_HOME is unset or not an absolute path. None when neither it nor HOME is usable.
std::optional<std::string> AutostartEntryPath();

// The autostart entry that starts `program` (an absolute path) with the session.
std::string AutostartEntryText(const std::string& program);

// The program takes no arguments but the autostart switch. Handles the arguments given
// (argc above 1) and returns the exit status; the windows are never opened from here.
int RunCommandLine(int argc, char** argv);

} // namespace ferry
