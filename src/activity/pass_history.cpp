#include "activity/pass_history.h"

#include <atomic>
#include <cstdio>

namespace ferry {

namespace {

std::atomic<bool> FailureNoted{false};

} // namespace

void NoteHistoryFailure(const std::string& what) {
    if (!FailureNoted.exchange(true))
        std::fprintf(stderr, "ferrydesk: the activity history is not kept: %s\n", what.c_str());
}

void PassHistory::PassStarted(int64_t) {
    Outcomes_.clear();
}

void PassHistory::FileEnded(const FileOutcome& outcome) {
    Outcomes_.push_back(outcome);
}

void PassHistory::PassEnded(const PassEnd& end) {
    RecordedPass recorded;
    recorded.StartMs = end.StartMs;
    recorded.EndMs = end.EndMs;
    recorded.Summary = end.Summary;
    // A rename changed the files' change time; what Move back compares is the one after it.
    for (FileOutcome& outcome : Outcomes_)
        RefreshChangeTime(outcome);
    if (Store_) {
        try {
            recorded.PassId = Store_->RecordPass(end.StartMs, end.EndMs, Outcomes_);
        } catch (const std::exception& e) {
            recorded.HistoryError = e.what();
            NoteHistoryFailure(e.what());
        }
    }
    Outcomes_.clear();
    std::lock_guard<std::mutex> guard(Lock_);
    Last_ = std::move(recorded);
}

RecordedPass PassHistory::LastPass() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Last_;
}

} // namespace ferry
