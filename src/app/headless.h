#pragma once

// ferrydesk --headless: the timer and the folder watch on the stored settings, with no window
// and no tray, for a server or a systemd user unit.

namespace ferry {

// Exit status when the program cannot do anything until someone acts: another --headless
// already serves the same settings, or no settings are stored yet. The unit does not restart
// on it (RestartPreventExitStatus), so it never spins.
constexpr int kHeadlessRefused = 3;

// The end signals are waited for by one thread of their own, so every other thread must keep
// them blocked: called first thing in main, before any thread is made.
void BlockEndSignals();

// Runs until SIGTERM, SIGINT or SIGHUP (then 0, within 2 s: a move under way finishes), one
// line per outcome on standard error. Returns kHeadlessRefused as above, or 1 when the
// settings cannot be read.
int RunHeadless();

} // namespace ferry
