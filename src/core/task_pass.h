#pragma once

// One task's run within a pass: its files through the stages list, select, read and match,
// move and report, one file at a time in the order the folder lists them.

#include <string>
#include <vector>

#include "core/pass_rules.h"
#include "core/task_table.h"

namespace ferry {

class PassReport;

// Moves every selected file of `task.Source` whose bytes hold `task.MatchString` into
// `task.Destination` under the same name, never replacing a file there; a file is moved only
// when the destination folder exists at that moment. A missing or unreadable source folder,
// or an empty source or destination path, does nothing. A file that cannot be read raises
// EInOutError and ends the run at that file; work called off stops between two files.
// `only`, when given, keeps the run to those names of the folder.
void RunTask(const TaskRecord& task, const PassRules& rules, PassReport& report,
             const std::vector<std::string>* only = nullptr);

} // namespace ferry
