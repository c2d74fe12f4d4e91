#pragma once

// The routing engine's one way in. Whatever asks for a pass (the timer, Run Tasks Now,
// --run-once) calls RunPass with the tasks, the rules and the observers it wants told; the
// pass itself knows nothing of windows, mail or history.
//
// A task is run in stages, each in a file of its own:
//   list            pass_list.h    what is in the source folder
//   select          pass_select.h  which of those files the task considers
//   read and match  pass_match.h   whether a file's bytes hold the match string
//   move            pass_move.h    the no-replace, no-loss move
//   report          pass_report.h  each file's outcome to the observer
// task_pass.cpp strings them together for one task.

#include <string>
#include <vector>

#include "base/cancellation.h"
#include "core/pass_observer.h"
#include "core/pass_rules.h"
#include "core/task_table.h"

namespace ferry {

// Runs `tasks` once, in their order, on the calling thread, telling `observer` what becomes
// of every matching file. An error (a file that cannot be read, or one the observer raises
// when told of a move) ends the pass at that file: it is told as the outcome PassError, and
// the tasks after it do not run. `cancel` calls the pass off between two files, and cuts short
// the waits of the calling thread meanwhile (those of the mail sender among them). Never
// raises: how the pass ended is in what it returns, which PassEnded was told too.
PassEnd RunPass(const std::vector<TaskRecord>& tasks, const PassRules& rules,
                PassObserver& observer, const CancelFlag& cancel);

// One task of a pass and the files it looks at: all of them, or only those named (a watched
// folder's files that just arrived). The named ones go through the same stages as in a full
// pass, in the order the folder lists them; a name no longer there is skipped silently.
struct PassTask {
    TaskRecord Task;
    bool AllFiles = true;
    std::vector<std::string> Only; // when !AllFiles
};

// The same for tasks whose runs may look at only some of their files.
PassEnd RunPassTasks(const std::vector<PassTask>& runs, const PassRules& rules,
                     PassObserver& observer, const CancelFlag& cancel);

// The tasks of the table a pass runs: rows 1 to the last task row, in order, rows without a
// name left out. A copy, so the pass cannot see the table change under it.
std::vector<TaskRecord> TaskRowsForPass(const TaskTable& table);

} // namespace ferry
