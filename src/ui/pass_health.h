#pragma once

// The line the Activity window gives the passes' health: when the last pass ran and what it
// did ("nothing to do" included, which the history does not keep), and when the next timed
// pass is due, so that a user can tell the timer runs.

#include <QString>
#include <cstdint>

#include "activity/activity_store.h"

namespace ferry {

// `last` null before the first pass of this run; `nextMs` the wall-clock time of the next
// timed pass, or -1 while the timed passes are stopped.
QString PassHealthText(const RecordedPass* last, int64_t nextMs);

} // namespace ferry
