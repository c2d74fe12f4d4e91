#pragma once

// The rules one routing pass keeps from its start to its end, handed to it as a value: a
// setting changed while the pass runs is the next pass's business.

namespace ferry {

struct PassRules {
    // The match string compared with the files' bytes exactly (true) or by case-folding.
    bool CaseSensitive = false;
};

// The rules as the settings stand now, for a pass about to start. The only reader of the
// process-wide CaseSensitiveMatch.
PassRules CurrentPassRules();

} // namespace ferry
