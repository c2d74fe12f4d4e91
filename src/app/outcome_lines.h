#pragma once

// One line per file outcome for a terminal or the journal: "Invoices: a.pdf: moved",
// "Notes: b.txt: left (name taken)", with the reason after a failed move and the error's
// text after the error that ended the pass.

#include <chrono>
#include <cstdio>
#include <string>

#include "core/pass_observer.h"

namespace ferry {

class OutcomeLines : public PassObserver {
public:
    explicit OutcomeLines(std::FILE* out);
    void PassStarted(int64_t startMs) override;
    void FileEnded(const FileOutcome& o) override;
    void PassEnded(const PassEnd& end) override;
    std::string Error; // of the last pass an error ended, as the error box would show it

private:
    std::FILE* Out_;
    // A terminal sees each line as it comes; a pipe or the journal gets them a quarter of a
    // second apart at most and at the pass's end, without a write for every file.
    bool Terminal_;
    bool InPass_ = false; // a line told after the pass's end (mail not sent) goes out at once
    std::chrono::steady_clock::time_point Flushed_;
};

} // namespace ferry
