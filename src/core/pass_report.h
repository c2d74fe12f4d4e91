#pragma once

// The report stage of a routing pass: turns what became of each file into a FileOutcome
// stamped with its task and time, hands it to the pass's observer, and sums the pass up.

#include <deque>
#include <string>
#include <vector>

#include "core/pass_observer.h"
#include "core/task_table.h"

namespace ferry {

struct MoveResult;
struct MovesFinished;

class PassReport {
public:
    explicit PassReport(PassObserver& observer) : Observer_(observer) {}

    // Tells the observer that the pass starts.
    void Start();
    // The task whose files are told from now on; its folders as stored, not as listed.
    void BeginTask(const TaskRecord& task);
    // The file the pass is at, named by the error that may end the pass there ("" between
    // files).
    void At(const std::string& file) { File_ = file; }

    // How the move of a matching file from `fromFolder` into `toFolder` ended; after an
    // attempt the observer hears of it as the move listener too. A move not final yet (across
    // file systems) is told once its batch has finished it, so that a file someone opened
    // before its source could go is told once, as in use, and never as moved as well.
    // `why`, when not empty, is what matched, kept with a file that moved.
    void Moved(const std::string& file, const MoveResult& result, const std::string& fromFolder,
               const std::string& toFolder, const std::string& why = {});
    // A file left because its text could not be read.
    void Unreadable(const std::string& file, const std::string& why);
    // A dry run's word on a file of the current task.
    void Previewed(const std::string& file, bool taken, const std::string& why);
    // The batch finished moves: those held for it are told now.
    void Finished(const MovesFinished& finished);

    // The error being handled ended the pass. Told as the outcome PassError at the task and
    // file the pass was at, with its text as the error box shows it; a pass called off tells
    // nothing.
    void Failed(std::exception_ptr error);
    // Tells the observer how the pass ended, and returns it.
    PassEnd End();

private:
    FileOutcome Make(const std::string& file, OutcomeKind kind) const;
    void Tell(const FileOutcome& outcome);

    struct Held {
        std::string From; // the source's path, as the batch names it
        FileOutcome Outcome;
    };

    PassObserver& Observer_;
    PassEnd End_;
    std::deque<Held> Held_; // in the order the moves were made, which they finish in
    const TaskRecord* Task_ = nullptr;
    std::string File_;
};

} // namespace ferry
