#pragma once

// Names that programs give a file while they are still writing it, to rename it once done:
// downloads in progress, office lock and owner files, and our own move temporaries. A watch
// waits for the final name instead of reacting to these.

#include <string_view>

namespace ferry {

bool IsTemporaryName(std::string_view name);

} // namespace ferry
