// Registry transactions: what others see before and after the end, rollback of every kind of
// change, keys opened below a transacted key, and a commit the hive refuses.

#include "platform/registry.h"

#include "support/registry_sandbox.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sqlite3.h>
#include <unistd.h>

namespace ferry {
namespace {

using namespace std::chrono_literals;

class RegistryTransactionTest : public RegistrySandboxTest {};

// The value as a plain handle (outside any transaction) reads it; "<none>" when missing.
std::string Read(const char* key, const char* name) {
    HKEY h = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<none>";
    DWORD type = 0;
    std::string data;
    LONG r = RegQueryValue(h, name, type, data);
    RegCloseKey(h);
    return r == ERROR_SUCCESS ? data : "<none>";
}

// The same, from another process.
std::string ReadElsewhere(const char* key, const char* name) {
    ChildResult r = RunInChild([&] { return "=" + Read(key, name); }, 30s);
    return r.Output.substr(1);
}

TEST_F(RegistryTransactionTest, ChangesAreSeenAllAtOnceOnCommitAndNeverWithout) {
    HTRANSACTION tx = nullptr;
    ASSERT_EQ(RegCreateTransaction(&tx), ERROR_SUCCESS);
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyTransacted(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, KEY_ALL_ACCESS, &key,
                                     &disposition, tx),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(RegSetValue(key, "A", REG_SZ, "one"), ERROR_SUCCESS);
    // A key opened the ordinary way below a transacted one is in the transaction too.
    HKEY sub = nullptr;
    ASSERT_EQ(RegCreateKeyEx(key, "Sub", 0, KEY_ALL_ACCESS, &sub, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(sub, "B", REG_SZ, "two"), ERROR_SUCCESS);
    DWORD type = 0;
    std::string data;
    ASSERT_EQ(RegQueryValue(sub, "B", type, data), ERROR_SUCCESS) << "it reads its own writes";
    EXPECT_EQ(data, "two");

    EXPECT_EQ(Read("SOFTWARE\\T", "A"), "<none>") << "this process, outside the transaction";
    EXPECT_EQ(ReadElsewhere("SOFTWARE\\T\\Sub", "B"), "<none>");

    ASSERT_EQ(RegCommitTransaction(tx), ERROR_SUCCESS);
    EXPECT_EQ(Read("SOFTWARE\\T", "A"), "one");
    EXPECT_EQ(ReadElsewhere("SOFTWARE\\T\\Sub", "B"), "two");
    EXPECT_EQ(RegSetValue(key, "A", REG_SZ, "late"), ERROR_TRANSACTION_NOT_ACTIVE);
    EXPECT_EQ(RegCommitTransaction(tx), ERROR_TRANSACTION_NOT_ACTIVE);
    EXPECT_EQ(Read("SOFTWARE\\T", "A"), "one");
    RegCloseKey(sub);
    RegCloseKey(key);
    EXPECT_EQ(RegCloseTransaction(tx), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseTransaction(tx), ERROR_INVALID_HANDLE);

    // Closed without a commit: new keys, changed and deleted values, a deleted tree all
    // come back as they were.
    ASSERT_EQ(RegCreateTransaction(&tx), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyTransacted(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, KEY_ALL_ACCESS, &key, tx),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(key, "A", REG_SZ, "changed"), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyEx(key, "New\\Deeper", 0, KEY_ALL_ACCESS, &sub, nullptr), ERROR_SUCCESS);
    RegCloseKey(sub);
    ASSERT_EQ(RegDeleteTree(key, "Sub"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValue(key, "A"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegCloseTransaction(tx), ERROR_SUCCESS);
    EXPECT_EQ(Read("SOFTWARE\\T", "A"), "one");
    EXPECT_EQ(Read("SOFTWARE\\T\\Sub", "B"), "two");
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\New", 0, KEY_READ, &sub),
              ERROR_FILE_NOT_FOUND);

    // An explicit rollback, then the same transaction is over.
    ASSERT_EQ(RegCreateTransaction(&tx), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyTransacted(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, KEY_ALL_ACCESS, &key, tx),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(key, "A", REG_SZ, "changed"), ERROR_SUCCESS);
    EXPECT_EQ(RegRollbackTransaction(tx), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValue(key, "A", type, data), ERROR_TRANSACTION_NOT_ACTIVE);
    EXPECT_EQ(RegOpenKeyTransacted(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &sub, tx),
              ERROR_TRANSACTION_NOT_ACTIVE);
    RegCloseKey(key);
    RegCloseTransaction(tx);
    EXPECT_EQ(Read("SOFTWARE\\T", "A"), "one");

    // The hive file removed and made anew between two transactions: the next one writes into
    // the new file, not into the one it had open before.
    ASSERT_EQ(unlink(Sandbox.HivePath().c_str()), 0);
    ASSERT_EQ(RegCreateTransaction(&tx), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyTransacted(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again", 0, KEY_ALL_ACCESS, &key,
                                     nullptr, tx),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(key, "C", REG_SZ, "three"), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegCommitTransaction(tx), ERROR_SUCCESS);
    RegCloseTransaction(tx);
    EXPECT_EQ(ReadElsewhere("SOFTWARE\\Again", "C"), "three");
    EXPECT_EQ(RegVerifyHive(HKEY_LOCAL_MACHINE), "ok");
}

// A reader that keeps its read lock past the wait: the commit cannot take the file, fails
// with ERROR_BUSY, and leaves nothing of the transaction behind.
TEST_F(RegistryTransactionTest, CommitRefusedByTheHiveStoresNothing) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, KEY_ALL_ACCESS, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(key, "A", REG_SZ, "old"), ERROR_SUCCESS);
    RegCloseKey(key);

    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const std::string path = Sandbox.HivePath();
    ChildProcess reader;
    reader.Start([&] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(db, "BEGIN; SELECT count(*) FROM regvalue;", nullptr, nullptr, nullptr);
        char c = 'r';
        if (write(ready[1], &c, 1) != 1)
            return std::string("no pipe");
        pollfd p{done[0], POLLIN, 0};
        poll(&p, 1, 30000);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return std::string();
    });
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);

    HTRANSACTION tx = nullptr;
    ASSERT_EQ(RegCreateTransaction(&tx), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyTransacted(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, KEY_ALL_ACCESS, &key, tx),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(key, "A", REG_SZ, "new"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(key, "B", REG_SZ, "new"), ERROR_SUCCESS);
    EXPECT_EQ(RegCommitTransaction(tx), ERROR_BUSY);
    EXPECT_NE(RegLastErrorText().find(".hive"), std::string::npos) << RegLastErrorText();
    EXPECT_EQ(RegSetValue(key, "A", REG_SZ, "again"), ERROR_TRANSACTION_NOT_ACTIVE);
    RegCloseKey(key);
    RegCloseTransaction(tx);

    ASSERT_EQ(write(done[1], &c, 1), 1);
    EXPECT_TRUE(reader.Wait(30s).Ok());
    EXPECT_EQ(Read("SOFTWARE\\T", "A"), "old");
    EXPECT_EQ(Read("SOFTWARE\\T", "B"), "<none>");
    EXPECT_EQ(RegVerifyHive(HKEY_LOCAL_MACHINE), "ok");
}

} // namespace
} // namespace ferry
