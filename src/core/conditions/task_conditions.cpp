#include "core/conditions/task_conditions.h"

namespace ferry {

bool IsKnownMatchKind(MatchKind kind) {
    return static_cast<uint32_t>(kind) <= static_cast<uint32_t>(MatchKind::Pattern);
}

} // namespace ferry
