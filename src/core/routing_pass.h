#pragma once

#include <functional>
#include <string>

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
// that cannot be read raises EInOutError and ends the pass at that file.
//
// This form reads the process-wide CaseSensitiveMatch afresh for every file.
void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString,
                       const MoveListener& listener);

// The same with the case rule given by the caller.
void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString, bool caseSensitive,
                       const MoveListener& listener);

} // namespace ferry
