// The Task Conditions window in the real program on a private display: a stored task with
// conditions opened through Edit Task, Preview and Test on a file read back as a user copies
// them, then Run Tasks Now moving exactly what Preview listed.
#include <csignal>
#include <gtest/gtest.h>

#include "end_to_end.h"

namespace ferry::test {
namespace {

using namespace e2e;

std::string Opened(const VirtualDisplay& display, const std::string& title) {
    std::string window;
    WaitFor([&] { return !(window = FindWindow(display, title)).empty(); }, 10s);
    return window;
}

TEST_F(EndToEnd, PreviewAndTestInTheRealWindowsAgreeWithTheNextRunTasksNow) {
    for (const char* tool : {"Xvfb", "xdotool", "openbox", "xprop", "xclip"})
        ASSERT_FALSE(FindProgram(tool).empty()) << tool << " is needed (scripts/deps/ui.txt)";
    VirtualDisplay display;
    ASSERT_TRUE(display.Running()) << display.Why();
    ChildProcess manager;
    ASSERT_TRUE(StartWindowManager(display, manager)) << "the window manager did not start";

    TempDir files;
    const std::string inbox = files.MakeDir("inbox");
    const std::string out = files.MakeDir("out");
    files.Write("inbox/a.txt", "INVOICE one\n");
    files.Write("inbox/b.txt", "INVOICE, REMINDER\n");
    files.Write("inbox/c.csv", "INVOICE\n");
    files.Write("inbox/d.txt", "invoiced\n");
    StoreQuietSettings(1);
    const std::string entry = std::string(kKey) + "\\Entry1";
    Add(entry, "Identifier", "REG_SZ", "Invoices");
    Add(entry, "Source", "REG_SZ", inbox);
    Add(entry, "Destination", "REG_SZ", out);
    Add(entry, "MatchString", "REG_SZ", "invoice bill");
    Add(entry, "MatchKind", "REG_DWORD", "1");
    Add(entry, "ExcludeString", "REG_SZ", "reminder");
    Add(entry, "NamePattern", "REG_SZ", "*.txt");

    ChildProcess program;
    StartProgram(program, display);
    std::string window = Opened(display, kMainTitle);
    if (window.empty()) {
        program.Kill(SIGTERM);
        FAIL() << "the main window did not appear; the program said: " << program.Wait(5s).Output;
    }

    // Edit Task at 420, 98; in it Con&ditions… at 8, 122; in the window Preview at 124, 230,
    // Test on a file… at 8, 230, the list at 8, 262 and OK at 316, 407.
    ASSERT_TRUE(Activate(display, window));
    ASSERT_TRUE(ClickIn(display, window, 466, 111));
    const std::string edit = Opened(display, "Ferrydesk - Edit Task");
    ASSERT_FALSE(edit.empty());
    ASSERT_TRUE(Activate(display, edit));
    ASSERT_TRUE(ClickIn(display, edit, 45, 134));
    const std::string conditions = Opened(display, "Ferrydesk - Task Conditions");
    ASSERT_FALSE(conditions.empty());
    ASSERT_TRUE(Activate(display, conditions));
    ASSERT_TRUE(ClickIn(display, conditions, 161, 242));
    // The list takes the keys; Ctrl+C there copies the current row as "file<TAB>outcome".
    ASSERT_TRUE(ClickIn(display, conditions, 60, 290));
    const std::vector<std::string> preview = {
        "a.txt\twould move (words: invoice)",
        "b.txt\twould stay: it holds the excluded word reminder",
        "c.csv\twould stay: the name does not match *.txt",
        "d.txt\twould stay: it holds none of the words invoice bill",
    };
    EXPECT_EQ(CopyCell(display, conditions, {"ctrl+Home"}, preview[0]), preview[0]);
    for (std::size_t n = 1; n < preview.size(); ++n)
        EXPECT_EQ(CopyCell(display, conditions, {"Down"}, preview[n]), preview[n]);
    EXPECT_EQ(CopyCell(display, conditions, {"Down", "Down"}, preview.back()), preview.back())
        << "a row below the last";
    EXPECT_EQ(files.Entries("inbox").size(), 4u) << "Preview moves nothing";

    // Test on a file: the chooser takes the path typed into it.
    ASSERT_TRUE(ClickIn(display, conditions, 63, 242));
    const std::string chooser = Opened(display, "Test on a File");
    ASSERT_FALSE(chooser.empty()) << "no file chooser";
    int code = 0;
    RunOnDisplay(
        display.Name(),
        {"xdotool", "windowactivate", "--sync", chooser, "type", "--delay", "20", inbox + "/b.txt"},
        code);
    ASSERT_TRUE(PressKeys(display, chooser, "Return"));
    ASSERT_TRUE(WaitFor([&] { return FindWindow(display, "Test on a File").empty(); }, 10s));
    ASSERT_TRUE(Activate(display, conditions));
    ASSERT_TRUE(ClickIn(display, conditions, 60, 290));
    const std::string found = "byte 0\t[INVOICE], REMINDER ";
    EXPECT_EQ(CopyCell(display, conditions, {"ctrl+Home"}, found), found);

    ASSERT_TRUE(ClickIn(display, conditions, 353, 419)); // OK
    ASSERT_TRUE(
        WaitFor([&] { return FindWindow(display, "Ferrydesk - Task Conditions").empty(); }, 10s));
    ASSERT_TRUE(Activate(display, edit));
    ASSERT_TRUE(ClickIn(display, edit, 339, 135)); // Apply
    window = Opened(display, kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(Activate(display, window));
    ASSERT_TRUE(ClickIn(display, window, 466, 54)); // Run Tasks Now
    ASSERT_TRUE(WaitFor([&] { return !History().empty(); }, 20s)) << "the pass recorded nothing";
    EXPECT_EQ(files.Entries("out"), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(files.Entries("inbox"), (std::vector<std::string>{"b.txt", "c.csv", "d.txt"}));

    program.Kill(SIGTERM);
    EXPECT_FALSE(program.Wait(10s).TimedOut);
    manager.Kill(SIGTERM);
    manager.Wait(5s);
}

} // namespace
} // namespace ferry::test
