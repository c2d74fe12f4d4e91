#pragma once

#include <functional>
#include <string>

#include "core/file_outcome.h"

namespace ferry {

// Called after every attempt to move a matching file, whether the move succeeded or not.
// The notification sender is the usual listener; what it raises ends the pass.
using MoveListener = std::function<void()>;

// The mask the run pass lists source folders with.
inline constexpr const char* AllFilesMask = "*.*";

// Runs one task once: lists the files of `source` that match `mask`, scans each for
// `matchString` and moves every file that contains it into `destination` under the same
// name, never replacing a file already there, calling `listener` after each move attempt.
// A file is moved only when the destination folder exists at that moment. A missing or
// unreadable source folder, or an empty source or destination path, does nothing. A file
// that cannot be read raises EInOutError and ends the pass at that file; one that is gone
// since the listing (another copy of the program moved it) is no longer the pass's.
//
// This form reads the process-wide CaseSensitiveMatch afresh for every file.
void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString,
                       const MoveListener& listener);

// The same with the case rule given by the caller.
void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString, bool caseSensitive,
                       const MoveListener& listener);

// The same, telling `reporter` besides how each matching file ended: moved (with its size and
// who it is at the destination), left because its name is taken there, because that name
// leads to the file itself, because another program has it open, because the destination
// folder is missing, or because the move failed otherwise; once for each file. An error that
// ends the pass is reported as PassError (with the file it arose at, when there is one) and
// then raised unchanged; work called off is not an error and is not reported. The listener is
// called exactly as by the forms above, after the move's outcome has been reported, except
// for a move across file systems, which is told once it is final (by the end of the pass).
// Outcomes carry the folders as given and no task name: the caller knows the task.
void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString, bool caseSensitive,
                       const MoveListener& listener, const OutcomeReporter& reporter);

} // namespace ferry
