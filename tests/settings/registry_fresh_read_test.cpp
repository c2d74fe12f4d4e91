// A thread keeps its connection to a hive between actions and may serve a value it read
// before; every change made meanwhile by another process, ferrydesk-reg, another thread or a
// transaction must still be seen by the very next read.

#include "platform/registry.h"
#include "support/registry_sandbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ferry {
namespace {

class RegistryFreshReadTest : public RegistrySandboxTest {};

const char* const kKey = "SOFTWARE\\Quillmere\\Ferrydesk";

// The value as a string through an open handle, "<missing>" or "<error N>" otherwise.
std::string Read(HKEY h, const char* name) {
    DWORD type = 0;
    std::string data;
    LONG r = RegQueryValue(h, name, type, data);
    if (r == ERROR_FILE_NOT_FOUND)
        return "<missing>";
    if (r != ERROR_SUCCESS)
        return "<error " + std::to_string(r) + ">";
    return data;
}

// The same after opening the key afresh from the root, as each notification does.
std::string ReadOpened(const char* name) {
    HKEY h = nullptr;
    LONG r = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &h);
    if (r != ERROR_SUCCESS)
        return "<open " + std::to_string(r) + ">";
    std::string v = Read(h, name);
    RegCloseKey(h);
    return v;
}

bool Set(const char* name, const std::string& value) {
    HKEY h = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &h, nullptr) != ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValue(h, name, REG_BINARY, value) == ERROR_SUCCESS;
    RegCloseKey(h);
    return ok;
}

TEST_F(RegistryFreshReadTest, EveryChangeByAnotherWriterIsSeenByTheNextRead) {
    ASSERT_TRUE(Set("Server", "first"));
    HKEY held = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &held), ERROR_SUCCESS);
    // Read twice (the second may come from memory) and ask for a missing value, so that a
    // remembered absence is put to the test too.
    EXPECT_EQ(Read(held, "Server"), "first");
    EXPECT_EQ(Read(held, "Server"), "first");
    EXPECT_EQ(Read(held, "Port"), "<missing>");
    EXPECT_EQ(ReadOpened("Server"), "first");

    // Another process, many times in a row: each change right after the last read.
    for (int round = 0; round < 12; ++round) {
        const std::string value = "value " + std::to_string(round);
        RegCloseKey(held); // no handles across fork
        ChildResult child =
            RunInChild([&] { return Set("Server", value) ? "" : RegLastErrorText(); });
        ASSERT_TRUE(child.Ok()) << child.Output;
        ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &held), ERROR_SUCCESS);
        EXPECT_EQ(Read(held, "Server"), value) << round;
        EXPECT_EQ(ReadOpened("Server"), value) << round;
    }

    // ferrydesk-reg adds the missing value and then deletes the one read many times, while
    // this handle stays open.
    ASSERT_EQ(Sandbox.RegTool({"add", std::string("HKLM\\") + kKey, "/v", "Port", "/t", "REG_DWORD",
                               "/d", "2525", "/f"}),
              0);
    DWORD type = 0;
    std::string data;
    ASSERT_EQ(RegQueryValue(held, "Port", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, std::string("\xdd\x09\0\0", 4));
    ASSERT_EQ(Sandbox.RegTool({"delete", std::string("HKLM\\") + kKey, "/v", "Server", "/f"}), 0);
    EXPECT_EQ(Read(held, "Server"), "<missing>");
    EXPECT_EQ(ReadOpened("Server"), "<missing>");

    // Another thread (its own connection) and a transaction (a connection of its own too).
    std::thread([] { EXPECT_TRUE(Set("Server", "from a thread")); }).join();
    EXPECT_EQ(Read(held, "Server"), "from a thread");
    HTRANSACTION tx = nullptr;
    ASSERT_EQ(RegCreateTransaction(&tx), ERROR_SUCCESS);
    HKEY inTx = nullptr;
    ASSERT_EQ(RegOpenKeyTransacted(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &inTx, tx),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(inTx, "Server", REG_BINARY, "in a transaction"), ERROR_SUCCESS);
    EXPECT_EQ(Read(held, "Server"), "from a thread"); // not before the commit
    ASSERT_EQ(RegCommitTransaction(tx), ERROR_SUCCESS);
    EXPECT_EQ(Read(held, "Server"), "in a transaction");
    RegCloseKey(inTx);
    RegCloseTransaction(tx);

    // The key itself deleted by another process: the held handle must say so, not serve
    // what it remembered.
    EXPECT_EQ(Read(held, "Server"), "in a transaction");
    ASSERT_EQ(Sandbox.RegTool({"delete", "HKLM\\SOFTWARE\\Quillmere", "/f"}), 0);
    EXPECT_EQ(Read(held, "Server"), "<error " + std::to_string(ERROR_KEY_DELETED) + ">");
    EXPECT_EQ(ReadOpened("Server"), "<open " + std::to_string(ERROR_FILE_NOT_FOUND) + ">");
    RegCloseKey(held);
}

TEST_F(RegistryFreshReadTest, AHiveReplacedOrRemovedIsNotReadThroughTheOldConnection) {
    ASSERT_TRUE(Set("Server", "old file"));
    EXPECT_EQ(ReadOpened("Server"), "old file");
    // Another program puts a different hive in its place (a restore from a backup).
    ChildResult child = RunInChild([&] {
        const std::string path = Sandbox.HivePath();
        const std::string temp = Sandbox.Dir() + "/restore";
        if (std::rename(path.c_str(), temp.c_str()) != 0)
            return std::string("rename failed");
        if (!Set("Server", "restored"))
            return RegLastErrorText();
        return std::string();
    });
    ASSERT_TRUE(child.Ok()) << child.Output;
    EXPECT_EQ(ReadOpened("Server"), "restored");
    // Removed altogether: the key is gone, and reading does not bring the file back.
    ASSERT_EQ(unlink(Sandbox.HivePath().c_str()), 0);
    EXPECT_EQ(ReadOpened("Server"), "<open " + std::to_string(ERROR_FILE_NOT_FOUND) + ">");
    EXPECT_NE(access(Sandbox.HivePath().c_str(), F_OK), 0);
}

// Between changes a kept connection answers from what it found, told of changes by the
// kernel; these are the changes that must reach it all the same.
TEST_F(RegistryFreshReadTest, ChangesAboveTheHiveAndInAForkedChildAreSeen) {
    // The hive two folders down, so that a folder above its own can be swapped.
    const std::string top = Sandbox.Dir() + "/profile";
    const std::string dir = top + "/registry";
    std::filesystem::create_directories(dir);
    setenv("FERRYDESK_REGISTRY_DIR", dir.c_str(), 1);
    ASSERT_TRUE(Set("Server", "first profile"));
    EXPECT_EQ(ReadOpened("Server"), "first profile");
    EXPECT_EQ(ReadOpened("Server"), "first profile");

    // Another program moves the folder above away and puts another in its place.
    ChildResult child = RunInChild([&] {
        if (std::rename(top.c_str(), (top + ".old").c_str()) != 0)
            return std::string("rename failed");
        std::filesystem::create_directories(dir);
        return Set("Server", "second profile") ? std::string() : RegLastErrorText();
    });
    ASSERT_TRUE(child.Ok()) << child.Output;
    EXPECT_EQ(ReadOpened("Server"), "second profile");

    // A forked child that writes and then reads must not take the news from its parent.
    child = RunInChild([&] {
        if (!Set("Server", "from the child"))
            return RegLastErrorText();
        const std::string seen = ReadOpened("Server");
        return seen == "from the child" ? std::string() : "the child read " + seen;
    });
    ASSERT_TRUE(child.Ok()) << child.Output;
    EXPECT_EQ(ReadOpened("Server"), "from the child");

    // Rights taken away from the user's own hive: a kept writable connection must not go on
    // writing. Only as an unprivileged user, since root may write anything.
    if (geteuid() != 0)
        return;
    ASSERT_EQ(chmod(Sandbox.Dir().c_str(), 0755), 0);
    ASSERT_EQ(chown(top.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown((dir + "/HKEY_LOCAL_MACHINE.hive").c_str(), 65534, 65534), 0);
    child = RunInChild(
        [&] {
            std::string why;
            if (!DropPrivileges(why))
                return "skip: " + why;
            if (!Set("Server", "own file") || ReadOpened("Server") != "own file")
                return "cannot write the own hive: " + RegLastErrorText();
            if (chmod((dir + "/HKEY_LOCAL_MACHINE.hive").c_str(), 0444) != 0)
                return std::string("chmod failed");
            if (Set("Server", "after chmod"))
                return std::string("a read-only hive was still written");
            return ReadOpened("Server") == "own file" ? std::string() : "value changed";
        },
        std::chrono::seconds(30));
    if (child.Output.rfind("skip:", 0) == 0)
        GTEST_SKIP() << child.Output;
    EXPECT_TRUE(child.Ok()) << child.Output;
}

TEST_F(RegistryFreshReadTest, AMissingHiveIsSeenAsSoonAsAnotherProgramMakesIt) {
    // The hive two folders down, and not made yet.
    const std::string top = Sandbox.Dir() + "/later";
    const std::string dir = top + "/registry";
    const std::string hive = dir + "/HKEY_LOCAL_MACHINE.hive";
    std::filesystem::create_directories(dir);
    setenv("FERRYDESK_REGISTRY_DIR", dir.c_str(), 1);
    EXPECT_EQ(ReadOpened("Server"), "<open 2>");
    EXPECT_EQ(ReadOpened("Server"), "<open 2>");

    // Made by another program.
    ChildResult child =
        RunInChild([&] { return Set("Server", "made") ? std::string() : RegLastErrorText(); });
    ASSERT_TRUE(child.Ok()) << child.Output;
    EXPECT_EQ(ReadOpened("Server"), "made");

    // Moved away (read twice while missing, so that the second may come from memory), and
    // back in under its name.
    auto moveAway = [&] {
        ASSERT_EQ(std::rename(hive.c_str(), (hive + ".away").c_str()), 0);
        EXPECT_EQ(ReadOpened("Server"), "<open 2>");
        EXPECT_EQ(ReadOpened("Server"), "<open 2>");
    };
    moveAway();
    child = RunInChild([&] {
        return std::rename((hive + ".away").c_str(), hive.c_str()) == 0 ? std::string()
                                                                        : "rename failed";
    });
    ASSERT_TRUE(child.Ok()) << child.Output;
    EXPECT_EQ(ReadOpened("Server"), "made");

    // Gone again; then a folder above is swapped for one that has a hive.
    moveAway();
    child = RunInChild([&] {
        if (std::rename(top.c_str(), (top + ".old").c_str()) != 0)
            return std::string("rename failed");
        std::filesystem::create_directories(dir + ".new");
        std::filesystem::copy_file(top + ".old/registry/HKEY_LOCAL_MACHINE.hive.away",
                                   dir + ".new/HKEY_LOCAL_MACHINE.hive");
        return std::rename((dir + ".new").c_str(), dir.c_str()) == 0 ? std::string()
                                                                     : "rename failed";
    });
    ASSERT_TRUE(child.Ok()) << child.Output;
    EXPECT_EQ(ReadOpened("Server"), "made");
}

} // namespace
} // namespace ferry
