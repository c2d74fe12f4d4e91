#pragma once

// The report stage of a routing pass: turns what became of each file into a FileOutcome
// stamped with its task and time, hands it to the pass's observer, and sums the pass up.

#include <string>
#include <vector>

#include "core/pass_observer.h"
#include "core/task_table.h"

namespace ferry {

struct MoveResult;

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

    // How the move of a matching file into `toFolder` ended; after an attempt the observer
    // hears of it as the move listener too.
    void Moved(const std::string& file, const MoveResult& result, const std::string& toFolder);
    // Files a batch found opened before their source could go: they are in use after all.
    void Returned(const std::vector<std::string>& paths, std::size_t folderLength);

    // The error being handled ended the pass. Told as the outcome PassError at the task and
    // file the pass was at, with its text as the error box shows it; a pass called off tells
    // nothing.
    void Failed(std::exception_ptr error);
    // Tells the observer how the pass ended, and returns it.
    PassEnd End();

private:
    FileOutcome Make(const std::string& file, OutcomeKind kind) const;
    void Tell(const FileOutcome& outcome);

    PassObserver& Observer_;
    PassEnd End_;
    const TaskRecord* Task_ = nullptr;
    std::string File_;
};

} // namespace ferry
