// The real program while another program holds its settings: a deleted task is saved as soon
// as the settings are free, without waiting for the timer; and a SIGTERM while they are still
// held gets one more try, then says on stderr what could not be saved.
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

#include "end_to_end.h"
#include "platform/registry.h"

namespace ferry::test {
namespace {

using namespace e2e;

class StoreBusyProgram : public EndToEnd {
protected:
    VirtualDisplay Display;
    ChildProcess Manager;
    HiveHolder Holder;

    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "openbox", "xprop"})
            ASSERT_FALSE(FindProgram(tool).empty()) << tool << " is needed (scripts/deps/ui.txt)";
        ASSERT_TRUE(Display.Running()) << Display.Why();
        {
            ScopedEnv x("DISPLAY", Display.Name().c_str());
            Manager.StartProgram({FindProgram("openbox"), "--sm-disable"});
        }
        ASSERT_TRUE(WaitFor(
            [&] {
                int code = 0;
                return RunOnDisplay(Display.Name(), {"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"},
                                    code)
                           .find("window id") != std::string::npos;
            },
            20s))
            << "the window manager did not start";
        // An hour between passes: no tick of the timer comes to the rescue here.
        const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmere\\Ferrydesk";
        std::string reg = "REGEDIT4\r\n\r\n[" + key +
                          "]\r\n\"NumberOfEntries\"=dword:00000004\r\n\"ProcessInterval\"=dword:"
                          "0000003c\r\n\"SMTPEnabled\"=dword:00000000\r\n\"MSCaseSensitive\"=dword:"
                          "00000000\r\n";
        for (const char* n : {"1", "2", "3", "4"})
            reg += "\r\n[" + key + "\\Entry" + n + "]\r\n\"Identifier\"=\"Task " + n +
                   "\"\r\n\"Source\"=\"" + State.Path() + "\"\r\n\"Destination\"=\"" +
                   State.Path() + "\"\r\n\"MatchString\"=\"x\"\r\n";
        const std::string file = State.Write("settings.reg", reg);
        std::string output;
        ASSERT_EQ(Sandbox.RegTool({"import", file}, &output), 0) << output;
    }
    void TearDown() override {
        Holder.Release();
        Manager.Kill(SIGTERM);
        Manager.Wait(5s);
    }

    int StoredCount() {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmere\\Ferrydesk", 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            return -1;
        DWORD type = 0;
        std::string data;
        const LONG r = RegQueryValue(key, "NumberOfEntries", type, data);
        RegCloseKey(key);
        return r == ERROR_SUCCESS && data.size() == 4 ? static_cast<unsigned char>(data[0]) : -1;
    }
    void Hold() {
        std::string why;
        ASSERT_TRUE(Holder.Hold(Sandbox.HivePath(), why)) << why;
    }
    std::string Start(ChildProcess& program) {
        StartProgram(program, Display);
        std::string window;
        WaitFor([&] { return !(window = FindWindow(Display, kMainTitle)).empty(); }, 20s);
        return window;
    }
    // Deletes the first task while the settings are held: the save waits, gives up and says
    // so in a box, which is answered.
    void DeleteFirstTask(const std::string& window) {
        ASSERT_TRUE(Activate(Display, window));
        ASSERT_TRUE(ClickIn(Display, window, 120, 68));  // the first row
        ASSERT_TRUE(ClickIn(Display, window, 466, 139)); // Delete Task
        AnswerBox("Warning");
    }
    void AnswerBox(const std::string& title) {
        std::string box;
        ASSERT_TRUE(WaitFor([&] { return !(box = FindWindow(Display, title)).empty(); }, 30s))
            << "no " << title << " box";
        ASSERT_TRUE(PressKeys(Display, box, "Return"));
        ASSERT_TRUE(WaitFor([&] { return FindWindow(Display, title).empty(); }, 10s));
    }
};

TEST_F(StoreBusyProgram, AChangeIsSavedOnceTheSettingsAreFreeAndASigtermTriesOnceMore) {
    ChildProcess program;
    std::string window = Start(program);
    ASSERT_FALSE(window.empty()) << "no main window";
    Hold();
    DeleteFirstTask(window);
    Holder.Release();
    EXPECT_TRUE(WaitFor([&] { return StoredCount() == 3; }, 5s))
        << "not saved when the settings were free";
    AnswerBox("Information"); // they have been saved now

    // Held to the end: the SIGTERM's try fails too, and the program says so as it goes.
    Hold();
    DeleteFirstTask(window);
    program.Kill(SIGTERM);
    ChildResult ended = program.Wait(30s);
    EXPECT_TRUE(ended.Exited) << "killed by signal " << ended.Signal;
    EXPECT_EQ(ended.ExitCode, 0);
    EXPECT_NE(ended.Output.find("ferrydesk: ended by a signal; your task changes were not saved: "
                                "the settings were still in use by another program.\n"),
              std::string::npos)
        << ended.Output;
    Holder.Release();
    EXPECT_EQ(StoredCount(), 3);

    // Let go while the SIGTERM's try waits for them: the change is saved before the end.
    ChildProcess again;
    window = Start(again);
    ASSERT_FALSE(window.empty()) << "no main window after the restart";
    Hold();
    DeleteFirstTask(window);
    again.Kill(SIGTERM);
    std::this_thread::sleep_for(1s);
    Holder.Release();
    ended = again.Wait(30s);
    EXPECT_TRUE(ended.Exited) << "killed by signal " << ended.Signal;
    EXPECT_EQ(ended.Output.find("not saved"), std::string::npos) << ended.Output;
    EXPECT_EQ(StoredCount(), 2);
}

} // namespace
} // namespace ferry::test
