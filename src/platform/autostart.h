#pragma once

// The entry that starts the program with the desktop session.

#include <optional>
#include <string>

namespace ferry {

// Where this user's desktop session looks for programs to start with it:
// $XDG_CONFIG_HOME/autostart/ferrydesk.desktop, or ~/.config/autostart/ferrydesk.desktop when
// XDG_CONFIG_HOME is unset or not an absolute path. None when neither it nor HOME is usable.
std::optional<std::string> AutostartEntryPath();

// The autostart entry that starts `program` (an absolute path) with the session.
std::string AutostartEntryText(const std::string& program);

// Whether the session starts the program: its entry is there.
bool AutostartEnabled();

// What SetAutostart did, or why it could not.
struct AutostartChange {
    enum Outcome { Written, Removed, WasNotSet, Failed };
    Outcome Result = Failed;
    std::string Path;  // the entry's path, where one could be found
    std::string Error; // for Failed: what went wrong, as "cannot write PATH: REASON"
};

// Writes the entry for this very program file (on) or removes it (off). The entry is written
// whole under a temporary name first, so the session never reads half of one.
AutostartChange SetAutostart(bool on);

} // namespace ferry
