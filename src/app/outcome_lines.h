#pragma once

// One line per file outcome for a terminal or the journal: "Invoices: a.pdf: moved",
// "Notes: b.txt: left (name taken)", with the reason after a failed move and the error's
// text after the error that ended the pass.

#include <cstdio>
#include <string>

#include "core/pass_observer.h"

namespace ferry {

class OutcomeLines : public PassObserver {
public:
    explicit OutcomeLines(std::FILE* out) : Out_(out) {}
    void FileEnded(const FileOutcome& o) override;
    std::string Error; // of the last pass an error ended, as the error box would show it

private:
    std::FILE* Out_;
};

} // namespace ferry
