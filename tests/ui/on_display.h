#pragma once

// What the tests that drive the real program on a private display share: an environment
// variable for a while, a bounded wait, and the window tools a user's hands stand in for.

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "virtual_display.h"

namespace ferry::test::on_display {

using namespace std::chrono_literals;

inline const char* const kMainTitle = "Ferrydesk by Quillmere";

// The environment variable for as long as the object lives, then the old value again.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : Name_(name) {
        if (const char* old = std::getenv(name)) {
            Had_ = true;
            Old_ = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (Had_)
            setenv(Name_, Old_.c_str(), 1);
        else
            unsetenv(Name_);
    }

private:
    const char* Name_;
    bool Had_ = false;
    std::string Old_;
};

template <class F> inline bool WaitFor(F ready, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return ready();
}

// The first visible window of that exact name, or "".
inline std::string FindWindow(const VirtualDisplay& display, const std::string& name) {
    int code = 0;
    std::string id = RunOnDisplay(
        display.Name(), {"xdotool", "search", "--onlyvisible", "--name", "^" + name + "$"}, code);
    id = id.substr(0, id.find('\n'));
    return code == 0 ? id : std::string();
}

inline bool ClickIn(const VirtualDisplay& display, const std::string& window, int x, int y,
                    int button = 1) {
    int code = 0;
    RunOnDisplay(display.Name(),
                 {"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y),
                  "click", std::to_string(button)},
                 code);
    return code == 0;
}

inline bool PressKeys(const VirtualDisplay& display, const std::string& window, const char* keys) {
    int code = 0;
    RunOnDisplay(display.Name(), {"xdotool", "windowactivate", "--sync", window, "key", keys},
                 code);
    return code == 0;
}

// Brings the window to the front and waits until the window manager has placed it, so that
// clicks at coordinates within it land where they should.
inline bool Activate(const VirtualDisplay& display, const std::string& window) {
    int code = 0;
    RunOnDisplay(display.Name(), {"xdotool", "windowactivate", "--sync", window}, code);
    return code == 0;
}

} // namespace ferry::test::on_display
