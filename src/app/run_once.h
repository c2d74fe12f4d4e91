#pragma once

// ferrydesk --run-once: one routing pass of every stored task, with no windows at all.

namespace ferry {

// Runs one pass of every stored task with the stored settings, as a windowed pass runs it
// (the history records it, the notifications go out), printing one line per file outcome to
// standard output. Returns 0, or 1 when an error ended the pass or the settings could not be
// read (its text on standard error). Needs no display.
int RunOnce();

} // namespace ferry
