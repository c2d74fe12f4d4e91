#include "settings_helpers.h"

#include "base/exception.h"
#include "core/case_sensitive_match.h"

#include <fstream>
#include <sstream>

namespace ferry {
namespace {

class SettingsStoreTest : public RegistrySandboxTest {};

TEST_F(SettingsStoreTest, FirstStartWritesExactlyTheNineDefaultsInOrder) {
    EXPECT_FALSE(SettingsKeyExists());
    CaseSensitiveMatch = true;
    TaskTable table;
    TStartupLoad state;
    LoadStartupSettings(table, state);
    EXPECT_FALSE(state.KeyExisted);
    EXPECT_TRUE(state.Completed);
    EXPECT_EQ(state.ProcessInterval, 10);
    EXPECT_FALSE(CaseSensitiveMatch);
    EXPECT_EQ(table.RowCount(), 2);

    std::vector<StoredValue> expected = {
        {"NumberOfEntries", REG_DWORD, Dword(0)},
        {"ProcessInterval", REG_DWORD, Dword(10)},
        {"SMTPEnabled", REG_DWORD, Dword(0)},
        {"SMTPPort", REG_DWORD, Dword(25)},
        {"SMTPServer", REG_SZ, Sz("SMTP Server")},
        {"SMTPFrom", REG_SZ, Sz("someone@example.com")},
        {"SMTPTo", REG_SZ, Sz("someone@example.com")},
        {"SMTPMessage", REG_SZ, Sz("Files have been processed.")},
        {"MSCaseSensitive", REG_DWORD, Dword(0)},
    };
    EXPECT_EQ(ValuesOf(SettingsKey), expected);
    EXPECT_TRUE(SubkeysOf(SettingsKey).empty());

    // The next start reads them back and writes nothing.
    TStartupLoad again;
    TaskTable table2;
    LoadStartupSettings(table2, again);
    EXPECT_TRUE(again.KeyExisted && again.Completed);
    EXPECT_EQ(again.ProcessInterval, 10);
    EXPECT_EQ(ValuesOf(SettingsKey), expected);
}

TEST_F(SettingsStoreTest, FlagsAreOnOnlyWhenExactlyOne) {
    InitialiseDefaults();
    ByHand(Sandbox, {"add", kToolKey, "/v", "SMTPEnabled", "/t", "REG_DWORD", "/d", "2", "/f"});
    ByHand(Sandbox, {"add", kToolKey, "/v", "MSCaseSensitive", "/t", "REG_DWORD", "/d", "2", "/f"});
    TOptionsSettings o;
    o.Mail.SMTPEnabled = o.MSCaseSensitive = true;
    ASSERT_TRUE(ReadOptions(o));
    EXPECT_FALSE(o.Mail.SMTPEnabled);
    EXPECT_FALSE(o.MSCaseSensitive);
    EXPECT_EQ(o.Mail.SMTPPort, 25);
    EXPECT_EQ(o.Mail.SMTPServer, "SMTP Server");
    EXPECT_FALSE(ReadNotificationSettings().has_value());
    TaskTable t;
    TStartupLoad s;
    LoadStartupSettings(t, s);
    EXPECT_FALSE(CaseSensitiveMatch);

    ByHand(Sandbox, {"add", kToolKey, "/v", "SMTPEnabled", "/t", "REG_DWORD", "/d", "1", "/f"});
    ByHand(Sandbox, {"add", kToolKey, "/v", "MSCaseSensitive", "/t", "REG_DWORD", "/d", "1", "/f"});
    ByHand(Sandbox,
           {"add", kToolKey, "/v", "SMTPServer", "/t", "REG_EXPAND_SZ", "/d", "mail.test", "/f"});
    auto n = ReadNotificationSettings();
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(n->SMTPServer, "mail.test"); // expandable text is text, not expanded
    EXPECT_EQ(n->SMTPPort, 25);
    EXPECT_EQ(n->SMTPTo, "someone@example.com");
    TaskTable t2;
    LoadStartupSettings(t2, s);
    EXPECT_TRUE(CaseSensitiveMatch);
    CaseSensitiveMatch = false;
}

TEST_F(SettingsStoreTest, ReadAndTypeErrorsNameTheValue) {
    InitialiseDefaults();
    // A missing integer at start-up: the read error, and the load is not complete.
    ByHand(Sandbox, {"delete", kToolKey, "/v", "ProcessInterval", "/f"});
    TaskTable t;
    TStartupLoad s;
    EXPECT_EQ(RegistryErrorOf([&] { LoadStartupSettings(t, s); }),
              "Failed to get data for 'ProcessInterval'");
    EXPECT_TRUE(s.KeyExisted);
    EXPECT_FALSE(s.Completed);
    EXPECT_FALSE(s.ProcessInterval.has_value());
    EXPECT_FALSE(SaveTaskTable(t, s));

    // A string where an integer is read: the type error; fields before it are filled.
    ByHand(Sandbox, {"add", kToolKey, "/v", "SMTPEnabled", "/t", "REG_DWORD", "/d", "1", "/f"});
    ByHand(Sandbox, {"add", kToolKey, "/v", "SMTPPort", "/d", "25", "/f"});
    TOptionsSettings o;
    int read = 0;
    EXPECT_EQ(RegistryErrorOf([&] { ReadOptionsSettings(o, read); }),
              "Invalid data type for 'SMTPPort'");
    EXPECT_TRUE(o.Mail.SMTPEnabled);
    EXPECT_EQ(read, 1); // SMTPEnabled only: what the dialog may show of this read
    EXPECT_EQ(RegistryErrorOf([] { ReadNotificationSettings(); }),
              "Invalid data type for 'SMTPPort'");

    // Longer than 4 bytes is a read error whatever the type; up to 4 of another type is a
    // type error; a short DWORD reads zero-extended.
    ByHand(Sandbox,
           {"add", kToolKey, "/v", "SMTPPort", "/t", "REG_BINARY", "/d", "0102030405", "/f"});
    EXPECT_EQ(RegistryErrorOf([&] { ReadOptions(o); }), "Failed to get data for 'SMTPPort'");
    ByHand(Sandbox,
           {"add", kToolKey, "/v", "SMTPPort", "/t", "REG_BINARY", "/d", "19000000", "/f"});
    EXPECT_EQ(RegistryErrorOf([&] { ReadOptions(o); }), "Invalid data type for 'SMTPPort'");
    {
        HKEY h = nullptr;
        ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, SettingsKey, 0, KEY_ALL_ACCESS, &h), 0);
        ASSERT_EQ(RegSetValue(h, "SMTPPort", REG_DWORD, std::string("\x19\x02", 2)), 0);
        RegCloseKey(h);
    }
    ASSERT_TRUE(ReadOptions(o));
    EXPECT_EQ(o.Mail.SMTPPort, 0x219);

    // Text: a missing value is empty, a value of another type is the type error.
    ByHand(Sandbox, {"delete", kToolKey, "/v", "SMTPFrom", "/f"});
    ByHand(Sandbox, {"add", kToolKey, "/v", "SMTPMessage", "/t", "REG_DWORD", "/d", "3", "/f"});
    EXPECT_EQ(RegistryErrorOf([&] { ReadOptionsSettings(o, read); }),
              "Invalid data type for 'SMTPMessage'");
    EXPECT_EQ(o.Mail.SMTPFrom, "");
    EXPECT_EQ(read, 5);

    // A string is cut at its first NUL.
    {
        HKEY h = nullptr;
        ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, SettingsKey, 0, KEY_ALL_ACCESS, &h), 0);
        ASSERT_EQ(RegSetValue(h, "SMTPMessage", REG_SZ, std::string("two\0parts", 9)), 0);
        RegCloseKey(h);
    }
    ASSERT_TRUE(ReadOptions(o));
    EXPECT_EQ(o.Mail.SMTPMessage, "two");
}

TEST_F(SettingsStoreTest, ActionsWriteTheirValuesOnlyWhenTheKeyExists) {
    // No key: nothing is written and nothing is created, a bad port is not even looked at.
    TOptionsSettings in;
    std::string port = "not a number";
    EXPECT_FALSE(WriteProcessInterval(5));
    EXPECT_FALSE(WriteOptionsSettings(in, port, true));
    TOptionsSettings o;
    o.Mail.SMTPServer = "kept";
    EXPECT_FALSE(ReadOptions(o));
    EXPECT_EQ(o.Mail.SMTPServer, "kept");
    SaveTaskEntries(2, TaskTable().Snapshot());
    EXPECT_FALSE(SettingsKeyExists());

    InitialiseDefaults();
    EXPECT_TRUE(WriteProcessInterval(42));
    EXPECT_EQ(ValuesOf(SettingsKey)[1], (StoredValue{"ProcessInterval", REG_DWORD, Dword(42)}));

    // Apply with a bad port: all or nothing, so SMTPEnabled, written first, is not kept.
    in.Mail.SMTPEnabled = true;
    in.Mail.SMTPServer = "mail.test";
    in.MSCaseSensitive = true;
    EXPECT_THROW(WriteOptionsSettings(in, port, false), EConvertError);
    ASSERT_TRUE(ReadOptions(o));
    EXPECT_FALSE(o.Mail.SMTPEnabled);
    EXPECT_EQ(o.Mail.SMTPPort, 25);
    EXPECT_EQ(o.Mail.SMTPServer, "SMTP Server");
    EXPECT_FALSE(CaseSensitiveMatch);

    port = " $1A";
    in.Mail.SMTPPort = 99; // the field's text is what is stored
    in.Mail.SMTPTo = "a@b.test, c@d.test";
    in.Mail.SMTPMessage = "line 1\r\nline 2";
    EXPECT_TRUE(WriteOptionsSettings(in, port, false));
    EXPECT_TRUE(CaseSensitiveMatch);
    ASSERT_TRUE(ReadOptions(o));
    EXPECT_EQ(o.Mail.SMTPPort, 26);
    EXPECT_EQ(o.Mail.SMTPServer, "mail.test");
    EXPECT_EQ(o.Mail.SMTPFrom, "");
    EXPECT_EQ(o.Mail.SMTPTo, "a@b.test, c@d.test");
    EXPECT_EQ(o.Mail.SMTPMessage, "line 1\r\nline 2");
    EXPECT_TRUE(o.MSCaseSensitive);
    EXPECT_EQ(ValuesOf(SettingsKey).size(), 9u);
    CaseSensitiveMatch = false;
}

// A store that cannot be asked is not an empty one: first-run defaults written then would
// replace a stored task table.
TEST_F(SettingsStoreTest, DamagedHiveAtStartIsAnErrorNotAFirstRun) {
    { std::ofstream(Sandbox.HivePath(), std::ios::binary) << std::string(4096, 'x'); }
    TaskTable t;
    TStartupLoad s;
    try {
        LoadStartupSettings(t, s);
        FAIL() << "no error";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.message(), "Failed to get data for 'ProcessInterval'");
        EXPECT_NE(e.Detail.find(Sandbox.HivePath()), std::string::npos) << e.Detail;
    }
    EXPECT_FALSE(s.Completed);
    EXPECT_EQ(RegistryErrorOf([] { InitialiseDefaults(); }),
              "Failed to set data for 'NumberOfEntries'");
    std::ifstream in(Sandbox.HivePath(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(), std::string(4096, 'x'));
}

} // namespace
} // namespace ferry
