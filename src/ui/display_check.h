#pragma once

// Whether there is a display to show the windows on.

namespace ferry {

// Whether the windowing system Qt will use can be reached. Qt ends the process when it
// cannot connect, so the program asks first and can say what to do instead.
bool DisplayReachable();

} // namespace ferry
