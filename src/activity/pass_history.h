#pragma once

#include <functional>
#include <vector>

#include "activity/activity_store.h"
#include "core/file_outcome.h"
#include "core/task_table.h"

namespace ferry {

// One task's run that reports how each of its files ended.
using ReportingRoutine = std::function<void(const TaskRecord& task, const OutcomeReporter& report)>;

// Runs one pass over `rows` in order, gathering every outcome the routine reports (each
// stamped with its task's name), and at the end records them all with one RecordPass into
// `store` — also when an error ends the pass, which is raised again afterwards. `recorded`
// gets the pass's times and summary, and its id when it was written (0 otherwise).
//
// The history never makes a pass fail: with no store, or when recording fails, the pass
// ends as it would have without one; a failure is told in `recorded` (HistoryError), and the
// first one is written to stderr.
void RunRecordedPass(const std::vector<TaskRecord>& rows, const ReportingRoutine& routine,
                     ActivityStore* store, RecordedPass& recorded);

// Writes a failure of the history to stderr, the first time only: a history that cannot be
// written fails in the same way on every pass.
void NoteHistoryFailure(const std::string& what);

} // namespace ferry
