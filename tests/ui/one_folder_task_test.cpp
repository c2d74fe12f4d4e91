// A user who picks the same folder twice in Add Entry, through the real windows: Run Tasks Now
// leaves every file where it is, and the Activity window says why.
#include <csignal>
#include <gtest/gtest.h>

#include "end_to_end.h"

namespace ferry::test {
namespace {

using namespace e2e;

bool TypeText(const VirtualDisplay& display, const std::string& window, const std::string& text) {
    int code = 0;
    RunOnDisplay(display.Name(),
                 {"xdotool", "windowactivate", "--sync", window, "type", "--delay", "20", text},
                 code);
    return code == 0;
}

// Picks `folder` in the folder browser of that title, which the click opened: its path typed
// where the browser takes one, then Enter.
void PickFolder(const VirtualDisplay& display, const std::string& title,
                const std::string& folder) {
    std::string browser;
    ASSERT_TRUE(WaitFor([&] { return !(browser = FindWindow(display, title)).empty(); }, 10s))
        << "no folder browser";
    ASSERT_TRUE(TypeText(display, browser, folder));
    ASSERT_TRUE(PressKeys(display, browser, "Return"));
    ASSERT_TRUE(WaitFor([&] { return FindWindow(display, title).empty(); }, 10s))
        << "the folder browser stayed open";
}

TEST_F(EndToEnd, ATaskWhoseTwoFoldersAreOneLeavesEveryFileAndSaysWhy) {
    for (const char* tool : {"Xvfb", "xdotool", "openbox", "xprop", "xclip"})
        ASSERT_FALSE(FindProgram(tool).empty()) << tool << " is needed (scripts/deps/ui.txt)";
    VirtualDisplay display;
    ASSERT_TRUE(display.Running()) << display.Why();
    ChildProcess manager;
    {
        ScopedEnv x("DISPLAY", display.Name().c_str());
        manager.StartProgram({FindProgram("openbox"), "--sm-disable"});
    }
    ASSERT_TRUE(WaitFor(
        [&] {
            int code = 0;
            const std::string root =
                RunOnDisplay(display.Name(), {"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, code);
            return code == 0 && root.find("window id") != std::string::npos;
        },
        20s))
        << "the window manager did not start";

    TempDir files;
    const std::string inbox = files.MakeDir("inbox");
    files.Write("inbox/a.txt", "INVOICE 1\n");
    files.Write("inbox/b.txt", "INVOICE 2\n");
    files.Write("inbox/c.txt", "a letter\n");
    StoreQuietSettings(0);

    ChildProcess program;
    StartProgram(program, display);
    std::string window;
    if (!WaitFor([&] { return !(window = FindWindow(display, kMainTitle)).empty(); }, 20s)) {
        program.Kill(SIGTERM);
        FAIL() << "the main window did not appear; the program said: " << program.Wait(5s).Output;
    }

    // Add New Task at 420, 70; in Add Entry the name at 88, 13, the two Browse buttons at
    // 382, 38 and 382, 65, the match string at 88, 94 and Add Task at 301, 122.
    ASSERT_TRUE(Activate(display, window));
    ASSERT_TRUE(ClickIn(display, window, 466, 83));
    std::string dialog;
    ASSERT_TRUE(WaitFor(
        [&] { return !(dialog = FindWindow(display, "Ferrydesk - Add Entry")).empty(); }, 10s));
    ASSERT_TRUE(Activate(display, dialog));
    ASSERT_TRUE(ClickIn(display, dialog, 200, 23));
    ASSERT_TRUE(TypeText(display, dialog, "Post"));
    ASSERT_TRUE(ClickIn(display, dialog, 419, 50));
    PickFolder(display, "Browse for Source File Location", inbox);
    ASSERT_TRUE(Activate(display, dialog));
    ASSERT_TRUE(ClickIn(display, dialog, 419, 77));
    PickFolder(display, "Browse for File Destination", inbox);
    ASSERT_TRUE(Activate(display, dialog));
    ASSERT_TRUE(ClickIn(display, dialog, 200, 104));
    ASSERT_TRUE(TypeText(display, dialog, "INVOICE"));
    ASSERT_TRUE(ClickIn(display, dialog, 338, 134));
    ASSERT_TRUE(WaitFor([&] { return FindWindow(display, "Ferrydesk - Add Entry").empty(); }, 10s))
        << "Add Entry did not take the task";

    ASSERT_TRUE(WaitFor([&] { return !(window = FindWindow(display, kMainTitle)).empty(); }, 10s));
    ASSERT_TRUE(Activate(display, window));
    ASSERT_TRUE(ClickIn(display, window, 466, 54)); // Run Tasks Now
    ASSERT_TRUE(WaitFor([&] { return History().size() >= 2; }, 20s)) << "the pass recorded nothing";
    EXPECT_EQ(files.Entries("inbox"), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(TempDir::Read(inbox + "/a.txt"), "INVOICE 1\n");
    EXPECT_EQ(TempDir::Read(inbox + "/b.txt"), "INVOICE 2\n");

    const std::vector<ActivityEntry> history = History();
    ASSERT_EQ(history.size(), 2u);
    Rows expected;
    for (const ActivityEntry& e : history) {
        EXPECT_EQ(e.Outcome.Task, "Post");
        EXPECT_EQ(e.Outcome.Kind, OutcomeKind::DestinationIsSource);
        EXPECT_EQ(e.Outcome.SourceFolder, inbox);
        EXPECT_EQ(e.Outcome.DestinationFolder, inbox);
        expected.push_back({TFRM_Activity::TimeText(e.Outcome.TimeMs).toStdString(), "Post",
                            e.Outcome.File, inbox + " \u2192 " + inbox,
                            "left (destination is source)"});
    }

    // The Activity link, right aligned in 440, 226; the list's first row at 8, 151.
    std::string activity;
    ASSERT_TRUE(ClickIn(display, window, 500, 232));
    ASSERT_TRUE(WaitFor(
        [&] { return !(activity = FindWindow(display, "Ferrydesk - Activity")).empty(); }, 10s));
    ASSERT_TRUE(Activate(display, activity));
    ASSERT_TRUE(ClickIn(display, activity, 60, 161));
    ExpectListed(display, activity, expected);

    program.Kill(SIGTERM);
    EXPECT_FALSE(program.Wait(10s).TimedOut);
    manager.Kill(SIGTERM);
    manager.Wait(5s);
}

} // namespace
} // namespace ferry::test
