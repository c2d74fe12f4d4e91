#include "activity/pass_history.h"

#include "core/scheduler.h"

#include <atomic>
#include <cstdio>
#include <exception>

namespace ferry {

namespace {

std::atomic<bool> FailureNoted{false};

} // namespace

void NoteHistoryFailure(const std::string& what) {
    if (!FailureNoted.exchange(true))
        std::fprintf(stderr, "ferrydesk: the activity history is not kept: %s\n", what.c_str());
}

void RunRecordedPass(const std::vector<TaskRecord>& rows, const ReportingRoutine& routine,
                     ActivityStore* store, RecordedPass& recorded) {
    recorded = RecordedPass();
    recorded.StartMs = WallClockMs();
    std::vector<FileOutcome> outcomes;
    std::exception_ptr error;
    try {
        RunTaskRows(rows, TaskRoutine([&](const TaskRecord& task) {
                        routine(task, [&](const FileOutcome& outcome) {
                            outcomes.push_back(outcome);
                            outcomes.back().Task = task.Identifier;
                        });
                    }));
    } catch (...) {
        error = std::current_exception();
    }
    recorded.EndMs = WallClockMs();
    for (FileOutcome& outcome : outcomes)
        RefreshChangeTime(outcome);
    recorded.Summary = Summarise(outcomes);
    if (store) {
        try {
            recorded.PassId = store->RecordPass(recorded.StartMs, recorded.EndMs, outcomes);
        } catch (const std::exception& e) {
            recorded.HistoryError = e.what();
            NoteHistoryFailure(e.what());
        }
    }
    if (error)
        std::rethrow_exception(error);
}

} // namespace ferry
