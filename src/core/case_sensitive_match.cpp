#include "core/case_sensitive_match.h"

namespace ferry {

bool CaseSensitiveMatch = false;

} // namespace ferry
