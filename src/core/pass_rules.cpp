#include "core/pass_rules.h"

#include "core/case_sensitive_match.h"

namespace ferry {

PassRules CurrentPassRules() {
    PassRules rules;
    rules.CaseSensitive = CaseSensitiveMatch.load();
    return rules;
}

} // namespace ferry
