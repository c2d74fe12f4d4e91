#include "net/id_global.h"

#include <chrono>

namespace ferry {

uint32_t Ticks() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

uint32_t TicksSince(uint32_t start) {
    return Ticks() - start;
}

} // namespace ferry
