#pragma once

// Preview of the Task Conditions window: what a pass would do now with one task as its
// dialog holds it, told by the engine's own dry run, so the answer is the pass's answer.

#include <string>
#include <vector>

#include "base/cancellation.h"
#include "core/pass_rules.h"
#include "core/task_table.h"

namespace ferry {

// One file of the source folder as a preview sees it; texts in the system code page.
struct PreviewRow {
    std::string File;
    bool Moves = false;
    std::string Outcome; // "would move (words: invoice)", "would stay: <why>"
};

// The files of `task`'s source folder and what a pass now would do with each, by name.
// `before`: the tasks ahead of it in the table; those on the same folder get the first pick,
// as in a real pass. `rules` as a pass would have them (DryRun is set here). Raises what
// ended the dry run.
std::vector<PreviewRow> PreviewTask(const std::vector<TaskRecord>& before, const TaskRecord& task,
                                    PassRules rules, const CancelFlag& cancel);

} // namespace ferry
