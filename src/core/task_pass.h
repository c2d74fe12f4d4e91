#pragma once

// One task's run within a pass: its files through the stages list, select, read and match,
// move and report, one file at a time in the order the folder lists them.

#include <cstddef>
#include <string>
#include <vector>

#include "core/pass_rules.h"
#include "core/task_table.h"

namespace ferry {

class PassFolders;
class PassReport;

// Moves every selected file of `task.Source` whose content meets the task's conditions into
// `task.Destination` under the same name, never replacing a file there; a file is moved only
// when the destination folder exists at that moment. A missing or unreadable source folder,
// or an empty source or destination path, does nothing. A file that cannot be read raises
// EInOutError and ends the run at that file; work called off stops between two files.
// `task` is task `n` of the pass that `pass` was made for; `only`, when given, keeps the run
// to those names of the folder.
void RunTask(const TaskRecord& task, std::size_t n, PassFolders& pass, PassReport& report,
             const std::vector<std::string>* only = nullptr);

} // namespace ferry
