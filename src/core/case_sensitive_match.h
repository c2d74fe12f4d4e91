#pragma once

#include <atomic>

namespace ferry {

// Whether routing compares the match string with the files' bytes exactly (true) or in
// upper case (false). One flag for the whole process: false at start, set from the stored
// settings and by the options dialog, read by the routing pass at every match. Atomic,
// because the pass runs on a thread of its own.
extern std::atomic<bool> CaseSensitiveMatch;

} // namespace ferry
