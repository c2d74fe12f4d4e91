#pragma once

// The process-wide case rule of matching, as the settings last stored it.

#include <atomic>

namespace ferry {

// Whether routing compares the match string with the files' bytes exactly (true) or in
// upper case (false). False at start, written by the settings load and by Options Apply, and
// read once when a pass starts (CurrentPassRules). Atomic, because passes start on the
// windows' thread and may be read by others.
extern std::atomic<bool> CaseSensitiveMatch;

} // namespace ferry
