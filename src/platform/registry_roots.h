#pragma once

// The registry's names as the program and its tools meet them: the predefined roots and the
// hive file each is kept in, and the system's text for each error code.

#include "platform/registry.h"

namespace ferry {

// "HKEY_LOCAL_MACHINE" and the like for a predefined root; null for any other handle.
const char* RegPredefinedRootName(HKEY key);

} // namespace ferry
