#pragma once

#include <functional>
#include <string>

namespace ferry {

// Moves a file without ever replacing one: when `to` already exists the move fails and
// both files stay as they were. On one file system this is a single no-replace rename.
// Across file systems the content is copied into an unnamed (or, where the file system
// cannot make one, a hidden temporary) file in the destination folder, synced, linked
// under the final name without replacing, and only then is the source removed. Any
// failure on the way leaves the source where it was and no temporary file behind, so a
// file is never lost nor visible half-written under its final name.
//
// Returns true on success. On failure `error`, when given, receives the Windows system
// error code (2 source missing, 3 destination folder missing, 5 access denied,
// 183 name already present, ...).
bool MoveFileNoReplace(const std::string& from, const std::string& to, int* error = nullptr);

// The steps of a move, for tests that make one of them fail.
enum class MoveStep { Rename, OpenSource, CreateTemp, Copy, Sync, Link, RemoveSource };

// Test seam. ForceCopy takes the cross-file-system path on one file system; NamedTemp skips
// the unnamed temporary file; Fail is asked before each step and returns an errno value to
// fail that step with, or 0 to let it run.
struct MoveSeam {
    bool ForceCopy = false;
    bool NamedTemp = false;
    std::function<int(MoveStep)> Fail;
};

// Installs a seam (nullptr removes it). Tests only; not thread-safe.
void SetMoveSeamForTesting(const MoveSeam* seam);

} // namespace ferry
