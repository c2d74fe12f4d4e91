#pragma once

// Move back: a moved file returned to its source folder, while it is still the file moved.

#include <string>

#include "core/file_outcome.h"

namespace ferry {

// Why Move back did nothing.
enum class MoveBackRefusal {
    None,                // moved back
    Gone,                // the file is no longer at its destination
    Changed,             // it is there, but not the file that was moved (identity, size, time)
    NameTaken,           // a file of its name is in the source folder again
    SourceFolderMissing, // the source folder no longer exists
    InUse,               // another program has it open
    Failed,              // the move failed otherwise
};

struct MoveBackResult {
    MoveBackRefusal Refusal = MoveBackRefusal::None;
    std::string Reason; // a sentence for the user; empty when moved back
};

// Returns a moved file (an outcome of kind Moved) to its source folder with the same
// no-replace, no-loss move the pass uses, only while it is still at its destination unchanged
// and its old name is free.
MoveBackResult MoveBack(const FileOutcome& moved);

} // namespace ferry
