#pragma once

// The command line: everything the program does when started with arguments.

namespace ferry {

// The program takes no arguments but the autostart switch and --run-once. Handles the
// arguments given (argc above 1) and returns the exit status; the windows are never opened
// from here.
int RunCommandLine(int argc, char** argv);

} // namespace ferry
