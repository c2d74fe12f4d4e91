#pragma once

// The rules one routing pass keeps from its start to its end, handed to it as a value: a
// setting changed while the pass runs is the next pass's business.

#include "core/pass_documents.h"

#include <string>

namespace ferry {

struct PassRules {
    PassRules() = default;
    PassRules(bool caseSensitive) : CaseSensitive(caseSensitive) {}

    // The match string compared with the files' bytes exactly (true) or by case-folding.
    bool CaseSensitive = false;
    // The languages scanned pages are read in ("eng+deu"); empty lets the reader choose.
    std::string OcrLanguages;
    // Where the text of documents comes from, for tasks that look inside them; without it
    // such tasks match every file on its bytes.
    DocumentSourceMaker Documents;
    // Everything as in a real pass but the moves: each file's would-be fate is told to the
    // observer's FilePreviewed, and nothing is moved, recorded or sent.
    bool DryRun = false;
};

// The rules as the settings stand now, for a pass about to start. The only reader of the
// process-wide CaseSensitiveMatch.
PassRules CurrentPassRules();

} // namespace ferry
