// ferrydesk-reg import is all or nothing: a file refused part-way, or the tool killed during a
// large import, leaves the hive exactly as it was. And files saved by text editors with a
// UTF-8 byte-order mark.

#include "settings_helpers.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace ferry {
namespace {

using namespace std::chrono_literals;

class RegImportTest : public RegistrySandboxTest {};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The whole machine hive as the tool exports it.
std::string Export(const RegistrySandbox& sandbox) {
    const std::string file = sandbox.Dir() + "/export.reg";
    std::string out;
    EXPECT_EQ(sandbox.RegTool({"export", "HKLM", file, "/y"}, &out), 0) << out;
    return ReadFile(file);
}

TEST_F(RegImportTest, FileRefusedPartWayLeavesTheHiveAsItWas) {
    InitialiseDefaults();
    TaskTable t;
    for (int i = 0; i < 3; ++i)
        t.AppendTask(Task("t" + std::to_string(i)));
    TaskSnapshot s = t.Snapshot();
    SaveTaskEntries(s.Count, s);
    const std::string before = Export(Sandbox);
    ASSERT_NE(before.find('3'), std::string::npos);

    // What comes first is fine: it hides every task, adds a key and removes another.
    const std::string good = "REGEDIT4\n\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmere\\Ferrydesk]\n"
                             "\"NumberOfEntries\"=dword:00000000\n\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]\n"
                             "\"v\"=\"new\"\n\n"
                             "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmere\\Ferrydesk\\Entry1]\n\n";
    std::string deep = "HKEY_LOCAL_MACHINE";
    for (int i = 0; i < 600; ++i)
        deep += "\\k";
    const std::pair<const char*, std::string> bad[] = {
        {"a key name too long",
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmere\\Ferrydesk\\" + std::string(256, 'x') + "]\n"},
        {"a key nested 600 deep", "[" + deep + "]\n"},
        {"deleting the root", "[-HKEY_LOCAL_MACHINE]\n"},
    };
    const std::string file = Sandbox.Dir() + "/half.reg";
    for (const auto& [what, second] : bad) {
        SCOPED_TRACE(what);
        WriteFile(file, good + second);
        std::string out;
        EXPECT_EQ(Sandbox.RegTool({"import", file}, &out), 1) << out;
        EXPECT_NE(out.find("ERROR: "), std::string::npos) << out;
        EXPECT_EQ(Export(Sandbox), before);
    }
    // The good part alone goes in whole.
    WriteFile(file, good);
    std::string out;
    EXPECT_EQ(Sandbox.RegTool({"import", file}, &out), 0) << out;
    EXPECT_EQ(ValuesOf(SettingsKey)[0], (StoredValue{"NumberOfEntries", REG_DWORD, Dword(0)}));
    EXPECT_TRUE(KeyExists("SOFTWARE\\Added"));
    EXPECT_FALSE(KeyExists(TaskEntryPath(1)));
    EXPECT_EQ(RegVerifyHive(HKEY_LOCAL_MACHINE), "ok");
}

TEST_F(RegImportTest, Utf8ByteOrderMarkIsTakenAsUtf8Text) {
    const std::string file = Sandbox.Dir() + "/bom.reg";
    WriteFile(file, "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bom]\r\n"
                    "\"Name\"=\"caf\xC3\xA9 \xE2\x82\xAC\"\r\n");
    std::string out;
    ASSERT_EQ(Sandbox.RegTool({"import", file}, &out), 0) << out;
    EXPECT_EQ(ValuesOf("SOFTWARE\\Bom"),
              (std::vector<StoredValue>{{"Name", REG_SZ, Sz("caf\xe9 \x80")}}));

    // After the mark the text must be UTF-8; the refusal says what is wrong with the file,
    // not that its first line is not the header it plainly shows.
    WriteFile(file, "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bom2]\r\n"
                    "\"Name\"=\"caf\xE9\"\r\n");
    EXPECT_EQ(Sandbox.RegTool({"import", file}, &out), 1);
    EXPECT_NE(out.find("Line 4: "), std::string::npos) << out;
    EXPECT_NE(out.find("UTF-8 byte-order mark"), std::string::npos) << out;
    EXPECT_FALSE(KeyExists("SOFTWARE\\Bom2"));
}

// The tool killed at random instants of a 20,000-value import: the hive holds all of it or
// none of it, and stays sound. FERRY_IMPORT_KILL_ROUNDS asks for more rounds.
TEST_F(RegImportTest, ImportKilledAnywhereLeavesAllOrNothing) {
    int rounds = 8;
    if (const char* env = std::getenv("FERRY_IMPORT_KILL_ROUNDS"); env && std::atoi(env) > 0)
        rounds = std::atoi(env);
    constexpr int kKeys = 20, kValues = 1000;
    std::string text = "REGEDIT4\n\n";
    for (int k = 0; k < kKeys; ++k) {
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk\\K" + std::to_string(k) + "]\n";
        for (int v = 0; v < kValues; ++v)
            text += "\"V" + std::to_string(v) + "\"=\"value " + std::to_string(v) + "\"\n";
    }
    const std::string file = Sandbox.Dir() + "/bulk.reg";
    WriteFile(file, text);
    auto count = [] {
        DWORD total = 0;
        for (int k = 0; k < kKeys; ++k)
            total += static_cast<DWORD>(ValuesOf("SOFTWARE\\Bulk\\K" + std::to_string(k)).size());
        return total;
    };

    InitialiseDefaults();
    const std::string before = Export(Sandbox);
    auto t0 = std::chrono::steady_clock::now();
    {
        RegistrySandbox timing;
        std::string out;
        ASSERT_EQ(timing.RegTool({"import", file}, &out), 0) << out;
    }
    const auto importTime = std::chrono::steady_clock::now() - t0;

    std::mt19937 random(777);
    int none = 0, all = 0;
    for (int round = 0; round < rounds; ++round) {
        ChildProcess tool;
        tool.StartProgram({RegToolPath(), "import", file});
        std::uniform_int_distribution<long> delay(
            0, std::chrono::duration_cast<std::chrono::microseconds>(importTime * 11 / 10).count());
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        tool.Kill(SIGKILL);
        ChildResult r = tool.Wait(60s);
        ASSERT_TRUE(r.Signal == SIGKILL || r.Ok()) << r.Output;
        ASSERT_EQ(RegVerifyHive(HKEY_LOCAL_MACHINE), "ok") << "round " << round;
        const DWORD n = count();
        if (n == 0) {
            ++none;
            EXPECT_EQ(Export(Sandbox), before) << "round " << round;
        } else {
            ASSERT_EQ(n, static_cast<DWORD>(kKeys * kValues)) << "round " << round;
            ++all;
            ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bulk"), ERROR_SUCCESS);
        }
    }
    EXPECT_GT(none, 0) << "no kill landed inside an import (" << all << " completed)";
}

} // namespace
} // namespace ferry
