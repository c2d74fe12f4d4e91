#include "core/case_sensitive_match.h"

namespace ferry {

std::atomic<bool> CaseSensitiveMatch{false};

} // namespace ferry
