// Two copies of the real program on one settings store, and the reg tool writing beside them:
// a task deleted in one copy is not routed by the other's next pass, and a task another writer
// stored survives the saves of both.
#include <csignal>
#include <gtest/gtest.h>

#include "end_to_end.h"
#include "platform/registry.h"

namespace ferry::test {
namespace {

using namespace e2e;

class TwoCopies : public EndToEnd {
protected:
    VirtualDisplay Display;
    ChildProcess Manager;
    TempDir Files;

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
            20s));
    }
    void TearDown() override {
        Manager.Kill(SIGTERM);
        Manager.Wait(5s);
    }

    // The task's folders, with one file in its source that it matches.
    void Task(int n, const std::string& name) {
        const std::string in = Files.MakeDir(name + "-in"), out = Files.MakeDir(name + "-out");
        Files.Write(name + "-in/" + name + ".txt", "for " + name + "\n");
        const std::string entry = std::string(kKey) + "\\Entry" + std::to_string(n);
        Add(entry, "Identifier", "REG_SZ", name);
        Add(entry, "Source", "REG_SZ", in);
        Add(entry, "Destination", "REG_SZ", out);
        Add(entry, "MatchString", "REG_SZ", "for " + name);
    }
    bool Moved(const std::string& file, const std::string& task = "") {
        return TempDir::Exists(Files.Path() + "/" + (task.empty() ? file : task) + "-out/" + file +
                               ".txt");
    }
    std::string Start(ChildProcess& program) {
        StartProgram(program, Display);
        std::string window;
        WaitFor(
            [&] {
                int code = 0;
                window = RunOnDisplay(Display.Name(),
                                      {"xdotool", "search", "--onlyvisible", "--pid",
                                       std::to_string(program.Pid()), "--name",
                                       std::string("^") + kMainTitle + "$"},
                                      code);
                window = code == 0 ? window.substr(0, window.find('\n')) : "";
                return !window.empty();
            },
            20s);
        return window;
    }
    std::vector<std::string> StoredNames() {
        std::vector<std::string> names;
        std::string out;
        Sandbox.RegTool({"query", kKey, "/v", "NumberOfEntries"}, &out);
        const size_t at = out.find("0x");
        const int n = at == std::string::npos ? -1 : std::stoi(out.substr(at), nullptr, 16);
        for (int i = 1; i <= n; ++i) {
            Sandbox.RegTool(
                {"query", std::string(kKey) + "\\Entry" + std::to_string(i), "/v", "Identifier"},
                &out);
            const size_t sz = out.find("REG_SZ");
            std::string name = sz == std::string::npos ? "?" : out.substr(sz + 6);
            name.erase(0, name.find_first_not_of(' '));
            names.push_back(name.substr(0, name.find_first_of("\r\n")));
        }
        return names;
    }
};

TEST_F(TwoCopies, ADeletedTaskIsGoneInBothAndAnotherWritersTaskSurvivesTheirSaves) {
    Add(kKey, "NumberOfEntries", "REG_DWORD", "2");
    Add(kKey, "ProcessInterval", "REG_DWORD", "60"); // no timed pass during the test
    Add(kKey, "SMTPEnabled", "REG_DWORD", "0");
    Add(kKey, "MSCaseSensitive", "REG_DWORD", "0");
    Task(1, "Keep");
    Task(2, "Drop");

    ChildProcess first, second;
    const std::string a = Start(first);
    const std::string b = Start(second);
    ASSERT_FALSE(a.empty() || b.empty()) << "both copies show their window";

    // Another writer adds a task: the entry first, then the count, as a user would.
    Task(3, "Other");
    Add(kKey, "NumberOfEntries", "REG_DWORD", "3");

    // The first copy deletes Drop (row 2); its save keeps Other.
    ASSERT_TRUE(Activate(Display, a));
    ASSERT_TRUE(ClickIn(Display, a, 120, 86));
    ASSERT_TRUE(ClickIn(Display, a, 466, 139)); // Delete Task
    EXPECT_TRUE(WaitFor([&] { return StoredNames().size() == 2; }, 10s));
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"Keep", "Other"}));

    // The second copy's pass routes Keep and Other, and nothing for Drop.
    ASSERT_TRUE(Activate(Display, b));
    ASSERT_TRUE(ClickIn(Display, b, 466, 54)); // Run Tasks Now
    EXPECT_TRUE(WaitFor([&] { return Moved("Keep") && Moved("Other"); }, 20s));
    std::this_thread::sleep_for(500ms); // a pass that did route Drop has had time to
    EXPECT_FALSE(Moved("Drop")) << "a task deleted in the other copy was routed";

    // The second copy deletes Keep (row 1 of the table it follows); Other survives its save.
    ASSERT_TRUE(ClickIn(Display, b, 120, 68));
    ASSERT_TRUE(ClickIn(Display, b, 466, 139));
    EXPECT_TRUE(WaitFor([&] { return StoredNames().size() == 1; }, 10s));
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"Other"}));

    // And the first copy follows the second: its next pass routes Other, and Keep no more.
    Files.Write("Keep-in/Keep2.txt", "for Keep\n");
    Files.Write("Other-in/Other2.txt", "for Other\n");
    ASSERT_TRUE(Activate(Display, a));
    ASSERT_TRUE(ClickIn(Display, a, 466, 54));
    EXPECT_TRUE(WaitFor([&] { return Moved("Other2", "Other"); }, 20s));
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(Moved("Keep2", "Keep"));

    for (ChildProcess* copy : {&first, &second}) {
        copy->Kill(SIGTERM);
        EXPECT_TRUE(copy->Wait(10s).Exited);
    }
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"Other"}));
}

} // namespace
} // namespace ferry::test
