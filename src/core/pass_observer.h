#pragma once

// What a routing pass tells as it goes: whoever wants to know what became of each file (the
// history, the e-mail notification, the tray balloon, a terminal) is an observer attached to
// the pass, and the pass knows nothing of them.

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "core/file_outcome.h"

namespace ferry {

// How a pass ended.
struct PassEnd {
    int64_t StartMs = 0; // wall clock, as outcomes carry it
    int64_t EndMs = 0;
    PassSummary Summary; // of every outcome told
    // Null when the pass completed; otherwise the error that ended it (EOperationCancelled
    // when it was called off).
    std::exception_ptr Error;
};

// A dry run's word on one file a task considered: whether it would take the file, and why
// (what matched) or why not (the condition that failed, or what would stop the move).
struct PreviewedFile {
    std::string Task;
    std::string File; // its name, without its folder
    bool Taken = false;
    std::string Why;
};

// Every call comes on the thread the pass runs on, in the order of the pass: PassStarted,
// then per file FileEnded (and MoveAttempted after a move was attempted), then PassEnded.
class PassObserver {
public:
    virtual ~PassObserver() = default;

    // What this raises ends the pass before its first task.
    virtual void PassStarted(int64_t startMs) {}
    // How one matching file ended, its task's name filled in.
    virtual void FileEnded(const FileOutcome& outcome) {}
    // After every attempt to move a matching file, whether it moved or not, once its outcome
    // has been told (a move across file systems is told only once it is final, by the end of
    // its task): the move listener. What this raises ends the pass, as a file error would.
    virtual void MoveAttempted(const FileOutcome& outcome) {}
    // In a dry run only, for every file of every task in the order a real pass meets them;
    // a dry run tells nothing else of files.
    virtual void FilePreviewed(const PreviewedFile& file) {}
    // Last of all, also when an error ended the pass. Must not raise.
    virtual void PassEnded(const PassEnd& end) {}
};

// Several observers as one, each told in the order they were added.
class PassObservers : public PassObserver {
public:
    PassObservers() = default;
    PassObservers(std::initializer_list<PassObserver*> observers) : List_(observers) {}
    void Add(PassObserver& observer) { List_.push_back(&observer); }

    void PassStarted(int64_t startMs) override;
    void FileEnded(const FileOutcome& outcome) override;
    void MoveAttempted(const FileOutcome& outcome) override;
    void FilePreviewed(const PreviewedFile& file) override;
    void PassEnded(const PassEnd& end) override;

private:
    std::vector<PassObserver*> List_;
};

} // namespace ferry
