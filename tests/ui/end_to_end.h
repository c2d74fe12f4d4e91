#pragma once

// What the end-to-end tests share: the real program started on a private display with a
// private settings store and history, and the ways a user's mouse and keys reach it.

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "activity/activity_store.h"
#include "support/child_process.h"
#include "support/registry_sandbox.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/frm_activity.h"
#include "virtual_display.h"

// Beside ui_fixture.h's helpers of the same names, in one test program.
namespace ferry::test::e2e {

using namespace std::chrono_literals;

const char* const kKey = "HKLM\\SOFTWARE\\Quillmere\\Ferrydesk";

using test::ScopedEnv;

template <class F> bool WaitFor(F ready, std::chrono::milliseconds limit) {
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

const char* const kMainTitle = "Ferrydesk by Quillmere";

class EndToEnd : public ::testing::Test {
protected:
    RegistrySandbox Sandbox;
    // The program's history goes to a folder of the test's own too.
    TempDir State;
    ScopedEnv StateHome{"XDG_STATE_HOME", State.Path().c_str()};

    // Starts build/bin/ferrydesk on the display, as the user would.
    void StartProgram(ChildProcess& program, const VirtualDisplay& display) {
        ScopedEnv platform("QT_QPA_PLATFORM", nullptr); // the real windowing system
        ScopedEnv x("DISPLAY", display.Name().c_str());
        program.StartProgram({std::string(FERRY_BINARY_DIR) + "/bin/ferrydesk"});
    }

    void Add(const std::string& key, const std::string& name, const char* type,
             const std::string& data) {
        std::string output;
        ASSERT_EQ(Sandbox.RegTool({"add", key, "/v", name, "/t", type, "/d", data, "/f"}, &output),
                  0)
            << output;
    }

    // Stored settings of a program that sends nothing: `entries` tasks, a ten-minute interval,
    // no mail, no desktop notification (a display without a tray), matching without case.
    void StoreQuietSettings(int entries) {
        Add(kKey, "NumberOfEntries", "REG_DWORD", std::to_string(entries));
        Add(kKey, "ProcessInterval", "REG_DWORD", "10");
        Add(kKey, "SMTPEnabled", "REG_DWORD", "0");
        Add(kKey, "MSCaseSensitive", "REG_DWORD", "0");
        Add(kKey, "DesktopNotifications", "REG_DWORD", "0");
    }

    // A quit while a pass's notification waits on a server that stalls (end_to_end_test.cpp).
    void QuitDuringAStalledNotification(int security);
};

inline bool PressKeys(const VirtualDisplay& display, const std::string& window, const char* keys) {
    int code = 0;
    RunOnDisplay(display.Name(), {"xdotool", "windowactivate", "--sync", window, "key", keys},
                 code);
    return code == 0;
}

inline bool PressKeyList(const VirtualDisplay& display, const std::string& window,
                         const std::vector<std::string>& keys) {
    std::vector<std::string> argv = {"xdotool", "windowactivate", "--sync", window, "key"};
    argv.insert(argv.end(), keys.begin(), keys.end());
    int code = 0;
    RunOnDisplay(display.Name(), argv, code);
    return code == 0;
}

// Brings the window to the front and waits until the window manager has placed it, so that
// clicks at coordinates within it land where they should.
inline bool Activate(const VirtualDisplay& display, const std::string& window) {
    int code = 0;
    RunOnDisplay(display.Name(), {"xdotool", "windowactivate", "--sync", window}, code);
    return code == 0;
}

inline std::string Clipboard(const VirtualDisplay& display) {
    int code = 0;
    const std::string text =
        RunOnDisplay(display.Name(), {"xclip", "-o", "-selection", "clipboard"}, code, 5s);
    return code == 0 ? text : std::string();
}

// A list's cells cannot be read from outside the program, but a user can copy one: the keys
// move the current cell, Ctrl+C puts its text on the clipboard, and xclip reads it back.
// Returns the clipboard once it shows `expected`, or what it last held after a bounded wait;
// callers copy a different text each time, so a key press that did nothing cannot pass.
inline std::string CopyCell(const VirtualDisplay& display, const std::string& window,
                            std::vector<std::string> keys, const std::string& expected) {
    keys.push_back("ctrl+c");
    if (!PressKeyList(display, window, keys))
        return "(xdotool failed)";
    std::string seen;
    WaitFor([&] { return (seen = Clipboard(display)) == expected; }, 5s);
    return seen;
}

using Rows = std::vector<std::vector<std::string>>;

// Walks the Activity window's list cell by cell from its first row, then shows that the last
// row is the last one: Down pressed more often than there are rows stops on it.
inline void ExpectListed(const VirtualDisplay& display, const std::string& window,
                         const Rows& rows) {
    ASSERT_FALSE(rows.empty());
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c) {
            std::vector<std::string> keys = {"Right"};
            if (c == 0)
                keys = r == 0 ? std::vector<std::string>{"ctrl+Home"}
                              : std::vector<std::string>{"Down", "Home"};
            EXPECT_EQ(CopyCell(display, window, keys, rows[r][c]), rows[r][c])
                << "row " << r << ", column " << c;
        }
    const size_t file = TFRM_Activity::ColFile;
    EXPECT_EQ(CopyCell(display, window, {"ctrl+Home", "Right", "Right"}, rows[0][file]),
              rows[0][file]);
    std::vector<std::string> down(rows.size() + 2, "Down");
    EXPECT_EQ(CopyCell(display, window, down, rows.back()[file]), rows.back()[file])
        << "a row below the last expected one";
}

// Starts openbox on the display and waits, bounded, until it has taken over; false when it
// did not.
inline bool StartWindowManager(const VirtualDisplay& display, ChildProcess& manager) {
    {
        ScopedEnv x("DISPLAY", display.Name().c_str());
        manager.StartProgram({FindProgram("openbox"), "--sm-disable"});
    }
    return WaitFor(
        [&] {
            int code = 0;
            const std::string root =
                RunOnDisplay(display.Name(), {"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, code);
            return code == 0 && root.find("window id") != std::string::npos;
        },
        20s);
}

// The history as the program wrote it, read with a connection of the test's own.
inline std::vector<ActivityEntry> History() {
    return ActivityStore(ActivityStore::DefaultPath()).List({});
}

} // namespace ferry::test::e2e
