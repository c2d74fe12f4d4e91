#include "platform/registry.h"

#include "support/registry_sandbox.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sqlite3.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {
namespace {

class RegistryTest : public RegistrySandboxTest {};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

HKEY Create(const char* path) {
    HKEY h = nullptr;
    DWORD disp = 0;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &h, &disp),
              ERROR_SUCCESS);
    return h;
}

TEST_F(RegistryTest, NamesKeepTheirCaseAndCompareWithoutIt) {
    HKEY h = nullptr;
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\MixedCase\\Deep", 0, KEY_ALL_ACCESS, &h,
                             &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
    ASSERT_EQ(RegSetValue(h, "Name", REG_SZ, std::string("one\0", 4)), ERROR_SUCCESS);
    // The same value under another spelling: replaced, first spelling kept, place kept.
    ASSERT_EQ(RegSetValue(h, "Other", REG_DWORD, std::string("\1\0\0\0", 4)), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(h, "NAME", REG_BINARY, std::string("\0\xff\0", 3)), ERROR_SUCCESS);
    RegCloseKey(h);

    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\mixedcase\\DEEP", 0, KEY_ALL_ACCESS, &h,
                             &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
    std::string name, data;
    DWORD type = 0;
    ASSERT_EQ(RegEnumValue(h, 0, name, &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(name, "Name");
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(data, std::string("\0\xff\0", 3));
    ASSERT_EQ(RegEnumValue(h, 1, name, &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(name, "Other");
    EXPECT_EQ(RegEnumValue(h, 2, name, &type, &data), ERROR_NO_MORE_ITEMS);

    // The Win32 query forms: size only, buffer too small, exact buffer.
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(h, "name", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    uint8_t buf[8] = {};
    size = 2;
    EXPECT_EQ(RegQueryValueEx(h, "name", &type, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(RegQueryValueEx(h, "name", &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(buf[1], 0xff);
    EXPECT_EQ(RegQueryValueEx(h, "missing", &type, buf, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(h);

    HKEY sw = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ, &sw), ERROR_SUCCESS);
    EXPECT_EQ(RegEnumKeyEx(sw, 0, name), ERROR_SUCCESS);
    EXPECT_EQ(name, "MixedCase");
    // A read handle may not write.
    EXPECT_EQ(RegSetValue(sw, "x", REG_SZ, ""), ERROR_ACCESS_DENIED);
    RegCloseKey(sw);
    EXPECT_EQ(RegCloseKey(sw), ERROR_INVALID_HANDLE);

    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\\\Gap", 0, KEY_READ, &sw), ERROR_BADKEY);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\MixedCase"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\MixedCase\\Deep"), ERROR_SUCCESS);
    EXPECT_EQ(RegVerifyHive(HKEY_LOCAL_MACHINE), "ok");
}

// A walk by index reads the key at its first step; whatever changes the key after that, here
// or in another process, shows at the next step.
TEST_F(RegistryTest, AnEnumerationSeesEveryChangeMadeSinceItsLastStep) {
    HKEY h = Create("SOFTWARE\\Walk");
    for (const char* v : {"a", "b", "c"})
        ASSERT_EQ(RegSetValue(h, v, REG_SZ, std::string(v) + '\0'), ERROR_SUCCESS);
    auto step = [&](DWORD i) {
        std::string name;
        return RegEnumValue(h, i, name, nullptr, nullptr) == ERROR_SUCCESS ? name : "-";
    };
    auto other = [](const char* remove, const char* add) {
        return RunInChild([=] {
            HKEY k = nullptr;
            if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 0, KEY_ALL_ACCESS, &k,
                               nullptr) != ERROR_SUCCESS ||
                RegDeleteValue(k, remove) != ERROR_SUCCESS ||
                RegSetValue(k, add, REG_SZ, std::string("x\0", 2)) != ERROR_SUCCESS)
                return RegLastErrorText();
            RegCloseKey(k);
            return std::string();
        });
    };
    EXPECT_EQ(step(0), "a");
    ASSERT_EQ(RegDeleteValue(h, "a"), ERROR_SUCCESS); // this very connection
    EXPECT_EQ(step(1), "c");
    ASSERT_TRUE(other("b", "d").Ok()); // another process, between two steps
    EXPECT_EQ(step(1), "d");
    EXPECT_EQ(step(2), "-");
    EXPECT_EQ(step(0) + step(1), "cd");
    ASSERT_TRUE(other("c", "e").Ok());
    EXPECT_EQ(step(0) + step(1) + step(2), "de-");
    RegCloseKey(h);
}

TEST_F(RegistryTest, MissingHiveIsAMissingKeyAndIsNotCreatedByReading) {
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &h),
              ERROR_FILE_NOT_FOUND);
    DWORD type;
    std::string data;
    EXPECT_EQ(RegQueryValue(HKEY_LOCAL_MACHINE, "x", type, data), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(access(Sandbox.HivePath().c_str(), F_OK), 0);
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "a", 0, KEY_ALL_ACCESS, &h, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_EQ(access(Sandbox.HivePath().c_str(), F_OK), 0);
    // Only the machine hive was made.
    EXPECT_NE(access(Sandbox.HivePath(HKEY_CURRENT_USER).c_str(), F_OK), 0);
}

TEST_F(RegistryTest, HandleToADeletedKeyReportsItAndNeverReachesANewKey) {
    HKEY held = Create("SOFTWARE\\Vendor\\App");
    ASSERT_EQ(RegSetValue(held, "v", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);

    // Another process deletes the tree, then makes a key of the same name.
    auto other = [](const char* step) {
        return RunInChild([step] {
            if (std::string(step) == "delete")
                return RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor") == ERROR_SUCCESS
                           ? std::string()
                           : RegLastErrorText();
            HKEY k = nullptr;
            if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\App", 0, KEY_ALL_ACCESS, &k,
                               nullptr) != ERROR_SUCCESS ||
                RegSetValue(k, "v", REG_SZ, std::string("new\0", 4)) != ERROR_SUCCESS)
                return RegLastErrorText();
            RegCloseKey(k);
            return std::string();
        });
    };
    ASSERT_TRUE(other("delete").Ok());
    DWORD type;
    std::string data, name;
    EXPECT_EQ(RegQueryValue(held, "v", type, data), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValue(held, "v", REG_SZ, std::string("y\0", 2)), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumValue(held, 0, name, &type, &data), ERROR_KEY_DELETED);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyEx(held, "Sub", 0, KEY_ALL_ACCESS, &child, nullptr), ERROR_KEY_DELETED);

    ASSERT_TRUE(other("create").Ok());
    EXPECT_EQ(RegQueryValue(held, "v", type, data), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValue(held, "w", REG_SZ, std::string("z\0", 2)), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(held), ERROR_SUCCESS);

    HKEY fresh = Create("SOFTWARE\\Vendor\\App");
    EXPECT_EQ(RegQueryValue(fresh, "v", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, std::string("new\0", 4));
    EXPECT_EQ(RegQueryValue(fresh, "w", type, data), ERROR_FILE_NOT_FOUND);
    RegCloseKey(fresh);
}

TEST_F(RegistryTest, DamagedOrForeignFilesAreReportedByNameAndLeftAlone) {
    const std::string path = Sandbox.HivePath();
    auto check = [&](const std::string& what) {
        std::string before = ReadFile(path);
        HKEY h = nullptr;
        LONG r = RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &h);
        EXPECT_TRUE(r == ERROR_BADDB || r == ERROR_REGISTRY_CORRUPT) << what << ": " << r;
        EXPECT_NE(RegLastErrorText().find(path), std::string::npos)
            << what << ": " << RegLastErrorText();
        r = RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &h, nullptr);
        EXPECT_TRUE(r == ERROR_BADDB || r == ERROR_REGISTRY_CORRUPT) << what << ": " << r;
        EXPECT_NE(RegSetValue(HKEY_LOCAL_MACHINE, "x", REG_SZ, ""), ERROR_SUCCESS) << what;
        EXPECT_EQ(ReadFile(path), before) << what;
    };

    { std::ofstream(path, std::ios::binary) << std::string(3000, 'J') << "not a database"; }
    check("text file");

    unlink(path.c_str());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE invoices(n); INSERT INTO invoices VALUES(1)", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
    check("other database");

    // A real hive with its header damaged.
    unlink(path.c_str());
    HKEY h = Create("SOFTWARE\\A");
    RegCloseKey(h);
    std::string bytes = ReadFile(path);
    ASSERT_GT(bytes.size(), 100u);
    bytes.replace(0, 16, "garbage garbage!");
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes; }
    check("damaged header");
}

std::string JournalMode(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    std::string mode;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
        mode = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    sqlite3_close(db);
    return mode;
}

// WAL would lock out readers who may not write the directory (tested below as nobody), so
// hives use the rollback journal, and one switched to WAL by hand is switched back.
TEST_F(RegistryTest, HiveSwitchedToWalIsPutBackByTheNextWriter) {
    HKEY h = Create("SOFTWARE\\Shared");
    RegCloseKey(h);
    EXPECT_EQ(JournalMode(Sandbox.HivePath()), "delete");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Sandbox.HivePath().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(JournalMode(Sandbox.HivePath()), "wal");
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_ALL_ACCESS, &h), 0);
    RegCloseKey(h);
    EXPECT_EQ(JournalMode(Sandbox.HivePath()), "delete");
}

// Read access without write access: only as an unprivileged user, since root ignores file
// permissions. The hive and its directory belong to root; the child is "nobody".
TEST_F(RegistryTest, ReadableButNotWritableHiveOpensOnlyForReading) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    HKEY h = Create("SOFTWARE\\Shared");
    ASSERT_EQ(RegSetValue(h, "v", REG_DWORD, std::string("\7\0\0\0", 4)), ERROR_SUCCESS);
    RegCloseKey(h);
    ASSERT_EQ(chmod(Sandbox.Dir().c_str(), 0755), 0);
    ASSERT_EQ(chmod(Sandbox.HivePath().c_str(), 0644), 0);

    auto unprivileged = [] {
        std::string why;
        if (!DropPrivileges(why))
            return "skip: " + why;
        std::string fails;
        HKEY k = nullptr;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_READ, &k) != ERROR_SUCCESS)
            return "read open failed: " + RegLastErrorText();
        DWORD type;
        std::string data;
        if (RegQueryValue(k, "v", type, data) != ERROR_SUCCESS ||
            data != std::string("\7\0\0\0", 4))
            fails += "value not readable; ";
        RegCloseKey(k);
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_ALL_ACCESS, &k) !=
            ERROR_ACCESS_DENIED)
            fails += "full-access open not denied; ";
        if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_ALL_ACCESS, &k,
                           nullptr) != ERROR_ACCESS_DENIED)
            fails += "create of an existing key not denied; ";
        if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, KEY_ALL_ACCESS, &k, nullptr) !=
            ERROR_ACCESS_DENIED)
            fails += "create of a new key not denied; ";
        if (RegSetValue(HKEY_LOCAL_MACHINE, "x", REG_SZ, "") != ERROR_ACCESS_DENIED)
            fails += "write on the root not denied; ";
        return fails;
    };
    ChildResult r = RunInChild(unprivileged, std::chrono::seconds(30));
    if (r.Output.rfind("skip:", 0) == 0)
        GTEST_SKIP() << r.Output;
    EXPECT_TRUE(r.Ok()) << r.Output;

    // A hive file of the user's own that is read-only, in a directory the user may write:
    // SQLite opens it read-write without complaint, but it must count as not writable.
    ASSERT_EQ(chown(Sandbox.Dir().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(Sandbox.HivePath().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(Sandbox.HivePath().c_str(), 0444), 0);
    r = RunInChild(unprivileged, std::chrono::seconds(30));
    EXPECT_TRUE(r.Ok()) << r.Output;

    // A writable file in a directory the user may not write: no journal can be made, so no
    // write could ever commit; the open says so at once.
    ASSERT_EQ(chmod(Sandbox.HivePath().c_str(), 0666), 0);
    ASSERT_EQ(chown(Sandbox.Dir().c_str(), 0, 0), 0);
    r = RunInChild(unprivileged, std::chrono::seconds(30));
    EXPECT_TRUE(r.Ok()) << r.Output;
}

} // namespace
} // namespace ferry
