#pragma once

// Drives the routing engine's own entry point the way the program does, for tests: one or
// more tasks through RunPass, with what the pass tells kept for the test to look at.

#include <functional>
#include <string>
#include <vector>

#include "core/engine.h"

namespace ferry::test {

class TaskRun : public PassObserver {
public:
    std::vector<FileOutcome> Outcomes;
    int Moves = 0;
    // How many outcomes had been told at each move attempt.
    std::vector<size_t> ToldAtMove;
    // Runs at every move attempt, as the move listener would; what it raises ends the pass.
    std::function<void()> OnMove;
    PassEnd Last;

    void FileEnded(const FileOutcome& outcome) override { Outcomes.push_back(outcome); }
    void MoveAttempted(const FileOutcome&) override {
        ++Moves;
        ToldAtMove.push_back(Outcomes.size());
        if (OnMove)
            OnMove();
    }

    // One pass over `tasks`, `also` told before this; the error that ended it is raised again.
    void Pass(const std::vector<TaskRecord>& tasks, bool caseSensitive = true,
              PassObserver* also = nullptr, const CancelFlag& cancel = CancelFlag()) {
        PassObservers observers;
        if (also)
            observers.Add(*also);
        observers.Add(*this);
        Last = RunPass(tasks, PassRules{caseSensitive}, observers, cancel);
        if (Last.Error)
            std::rethrow_exception(Last.Error);
    }
    // One task "T" from `source` to `destination` looking for `match`.
    void Pass(const std::string& source, const std::string& destination,
              const std::string& match = "MATCH", bool caseSensitive = true) {
        Pass({{"T", source, destination, match}}, caseSensitive);
    }
};

} // namespace ferry::test
