#include "ui/display_check.h"

#include <cstdlib>
#include <cstring>

#if FERRY_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace ferry {

bool DisplayReachable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0)
        return true; // offscreen, wayland, vnc...: Qt's own affair
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!platform && wayland && *wayland)
        return true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
#if FERRY_HAVE_XCB
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    const bool ok = connection && xcb_connection_has_error(connection) == 0;
    if (connection)
        xcb_disconnect(connection);
    return ok;
#else
    return true;
#endif
}

} // namespace ferry
