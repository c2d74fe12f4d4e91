#pragma once

// The history as an observer of routing passes: it gathers each pass's outcomes and writes
// them to the activity store in one transaction when the pass ends.

#include <mutex>
#include <string>
#include <vector>

#include "activity/activity_store.h"
#include "core/pass_observer.h"

namespace ferry {

// The history never makes a pass fail: with no store, or when recording fails, the pass goes
// on as it would without one; the failure is told in LastPass (HistoryError), and the first
// one is written to stderr.
class PassHistory : public PassObserver {
public:
    // `store` null: nothing is kept.
    explicit PassHistory(ActivityStore* store) : Store_(store) {}

    void PassStarted(int64_t startMs) override;
    void FileEnded(const FileOutcome& outcome) override;
    void PassEnded(const PassEnd& end) override;

    // Whether there is a store to write the passes to.
    bool Keeping() const { return Store_ != nullptr; }
    // The last pass that ended: its times, summary, and its id when it was written (0 when
    // nothing was). May be asked from another thread than the pass's.
    RecordedPass LastPass() const;

private:
    ActivityStore* Store_;
    std::vector<FileOutcome> Outcomes_;
    mutable std::mutex Lock_;
    RecordedPass Last_; // under Lock_
};

// Writes a failure of the history to stderr, the first time only: a history that cannot be
// written fails in the same way on every pass.
void NoteHistoryFailure(const std::string& what);

} // namespace ferry
