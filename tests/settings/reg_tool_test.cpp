// ferrydesk-reg as a user drives it: query output, prompts, export and import.

#include "settings_helpers.h"

#include "ferrydesk-reg/reg_file.h"
#include "platform/codepage.h"
#include "support/code_page_scope.h"
#include "support/scoped_env.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

namespace ferry {
namespace {

class RegToolTest : public RegistrySandboxTest {};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Every key below HKLM\SOFTWARE with its values, as one comparable text.
std::string Dump() {
    RegFile tree;
    if (CollectRegTree(HKEY_LOCAL_MACHINE, "SOFTWARE", tree) != ERROR_SUCCESS)
        return "<missing>";
    std::string out;
    for (const RegFileKey& k : tree.Keys) {
        out += "[" + k.Path + "]\n";
        for (const RegFileValue& v : k.Values)
            out += v.Name + "|" + std::to_string(v.Type) + "|" + v.Data + "\n";
    }
    return out;
}

void Set(const char* key, const std::string& name, DWORD type, const std::string& data) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &h, nullptr), 0);
    ASSERT_EQ(RegSetValue(h, name, type, data), 0);
    RegCloseKey(h);
}

TEST_F(RegToolTest, QueryPrintsKeyThenOneLinePerValue) {
    InitialiseDefaults();
    WriteTaskEntry(TaskEntryPath(1), "T", "s", "m", "d");
    std::string out;
    ASSERT_EQ(Sandbox.RegTool({"query", kToolKey}, &out), 0);
    EXPECT_EQ(out, "\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmere\\Ferrydesk\n"
                   "    NumberOfEntries    REG_DWORD    0x0\n"
                   "    ProcessInterval    REG_DWORD    0xa\n"
                   "    SMTPEnabled    REG_DWORD    0x0\n"
                   "    SMTPPort    REG_DWORD    0x19\n"
                   "    SMTPServer    REG_SZ    SMTP Server\n"
                   "    SMTPFrom    REG_SZ    someone@example.com\n"
                   "    SMTPTo    REG_SZ    someone@example.com\n"
                   "    SMTPMessage    REG_SZ    Files have been processed.\n"
                   "    MSCaseSensitive    REG_DWORD    0x0\n"
                   "\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmere\\Ferrydesk\\Entry1\n");
    ASSERT_EQ(Sandbox.RegTool({"query", kToolKey + "\\Entry1", "/v", "identifier"}, &out), 0);
    EXPECT_EQ(out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmere\\Ferrydesk\\Entry1\n"
                   "    Identifier    REG_SZ    T\n\n");
    EXPECT_EQ(Sandbox.RegTool({"query", kToolKey, "/v", "Nope"}, &out), 1);
    EXPECT_EQ(out, "ERROR: The system was unable to find the specified registry key or value.\n");

    // Without /f the tool asks; anything but yes leaves the value alone.
    EXPECT_EQ(Sandbox.RegTool({"add", kToolKey, "/v", "SMTPPort", "/t", "REG_DWORD", "/d", "26"},
                              &out, "n\n"),
              1);
    EXPECT_EQ(ValuesOf(SettingsKey)[3].Data, Dword(25));
    EXPECT_EQ(Sandbox.RegTool({"add", kToolKey, "/v", "SMTPPort", "/t", "REG_DWORD", "/d", "0x1b"},
                              &out, "yes\n"),
              0);
    EXPECT_EQ(ValuesOf(SettingsKey)[3].Data, Dword(27));
    EXPECT_EQ(Sandbox.RegTool({"delete", kToolKey}, &out), 1); // no answer at all: no
    EXPECT_TRUE(KeyExists(SettingsKey));
    EXPECT_EQ(
        Sandbox.RegTool({"add", kToolKey, "/v", "X", "/t", "REG_DWORD", "/d", "-1", "/f"}, &out),
        1);
    EXPECT_EQ(Sandbox.RegTool({"frobnicate"}, &out), 1);
}

TEST_F(RegToolTest, ExportThenImportIntoAnEmptyHiveGivesTheSameBytes) {
    // Values that a careless writer would change on the way: text without its NUL, with
    // NULs and line breaks inside, code page bytes, odd-sized numbers, long binary, odd names.
    const char* k = "SOFTWARE\\Quillmere\\Ferrydesk";
    Set(k, "Plain", REG_SZ, Sz("SMTP Server"));
    Set(k, "Quotes \"and\" \\slashes\\", REG_SZ, Sz("C:\\dir\\\"x\"\\"));
    Set(k, "", REG_SZ, Sz("default value"));
    Set(k, "Empty", REG_SZ, Sz(""));
    Set(k, "NoData", REG_SZ, "");
    Set(k, "NoNul", REG_SZ, "abc");
    Set(k, "InnerNul", REG_SZ, std::string("a\0b\0", 4));
    Set(k, "Lines", REG_SZ, Sz("one\r\ntwo"));
    Set(k, "Cp1252 \x80\x81\xe9", REG_SZ, Sz("\x80\x81\x8d\x8f\x90\x9d\xa0\xff"));
    Set(k, "Expand", REG_EXPAND_SZ, Sz("%HOME%\\x"));
    Set(k, "Multi", REG_MULTI_SZ, std::string("a\0\xe9\0\0", 5));
    Set(k, "Dword", REG_DWORD, Dword(0xdeadbeef));
    Set(k, "ShortDword", REG_DWORD, "\x01\x02");
    Set(k, "Qword", REG_QWORD, std::string("\1\2\3\4\5\6\7\x80", 8));
    std::string blob;
    for (int i = 0; i < 300; ++i)
        blob += static_cast<char>(i * 7);
    Set(k, "Binary", REG_BINARY, blob);
    Set(k, "None", REG_NONE, "");
    Set(k, "Odd type", 0x12345, std::string("\x00\x01", 2));
    Set("SOFTWARE\\Quillmere\\Ferrydesk\\Entry1", "Identifier", REG_SZ, Sz("T\xe9st"));
    Set("SOFTWARE\\Other Vendor\\MiXed", "v", REG_DWORD, Dword(1));
    const std::string original = Dump();

    for (bool regedit4 : {false, true}) {
        SCOPED_TRACE(regedit4 ? "REGEDIT4" : "5.00");
        std::string file = Sandbox.Dir() + (regedit4 ? "/out4.reg" : "/out5.reg");
        std::vector<std::string> args = {"export", "HKLM\\SOFTWARE", file};
        if (regedit4)
            args.push_back("/regedit4");
        std::string out;
        ASSERT_EQ(Sandbox.RegTool(args, &out), 0) << out;
        std::string bytes = ReadFile(file);
        if (regedit4)
            EXPECT_EQ(bytes.substr(0, 10), "REGEDIT4\r\n");
        else
            EXPECT_EQ(bytes.substr(0, 6), std::string("\xFF\xFEW\0i\0", 6));

        RegistrySandbox empty;
        ASSERT_EQ(empty.RegTool({"import", file}, &out), 0) << out;
        EXPECT_EQ(Dump(), original);
        EXPECT_EQ(RegVerifyHive(HKEY_LOCAL_MACHINE), "ok");
    }
}

TEST_F(RegToolTest, MalformedImportIsReportedByLineAndAppliesNothing) {
    Set("SOFTWARE\\Keep", "v", REG_SZ, Sz("old"));
    const std::string before = Dump();
    std::string file = Sandbox.Dir() + "/bad.reg";
    WriteFile(file, "REGEDIT4\r\n"
                    "\r\n"
                    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n"
                    "\"a\"=\"fine\"\r\n"
                    "\"b\"=hex:01,02,\\\r\n"
                    "  03,04\r\n"
                    "\"c\"=dword:1234567g\r\n");
    std::string out;
    EXPECT_EQ(Sandbox.RegTool({"import", file}, &out), 1);
    EXPECT_NE(out.find("Line 8: "), std::string::npos) << out;
    EXPECT_NE(out.find("Nothing was imported."), std::string::npos) << out;
    EXPECT_EQ(Dump(), before);

    // The parser's other refusals, with the line they name.
    struct Case {
        const char* Text;
        const char* Line;
    } cases[] = {
        {"REGEDIT5\n", "Line 1: "},
        {"", "Line 1: "},
        {"REGEDIT4\n\"v\"=\"outside\"\n", "Line 2: "},
        {"REGEDIT4\n[HKEY_NOWHERE\\x]\n", "Line 2: "},
        {"REGEDIT4\n[HKLM\\x\n", "Line 2: "},
        {"REGEDIT4\n[HKLM\\x]\n\n\"v\"=hex:01,\\\n", "Line 4: "},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=hex:1,2\n", "Line 3: "},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=\"open\n", "Line 3: "},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=\"a\" junk\n", "Line 3: "},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=dword:123456789\n", "Line 3: "},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=hex(zz):00\n", "Line 3: "},
        {"REGEDIT4\n[HKLM\\x]\n\"v\" \"w\"\n", "Line 3: "},
        {"REGEDIT4\n[HKLM\\a\\\\b]\n", "Line 2: "},
    };
    for (const Case& c : cases) {
        RegFile parsed;
        std::string error;
        EXPECT_FALSE(ParseRegFile(c.Text, parsed, error)) << c.Text;
        EXPECT_EQ(error.rfind(c.Line, 0), 0u) << c.Text << " -> " << error;
    }
}

std::string Utf16(const std::u16string& s) {
    std::string out = "\xFF\xFE";
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xff);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

TEST_F(RegToolTest, ImportReadsBothFormsAsTheEditorWritesThem) {
    Set("SOFTWARE\\Old", "v", REG_SZ, Sz("x"));
    Set("SOFTWARE\\App", "gone", REG_SZ, Sz("x"));
    std::string file = Sandbox.Dir() + "/in5.reg";
    // 5.00: UTF-16 text; hex(2) data is UTF-16 too, and becomes 8-bit text.
    WriteFile(file, Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
                          u"; a comment\r\n"
                          u"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\r\n"
                          u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\App]\r\n"
                          u"\"Name\"=\"caf\u00e9 \u20ac\"\r\n"
                          u"\"Path\"=hex(2):25,00,41,00,e9,00,00,00\r\n"
                          u"\"gone\"=-\r\n"
                          u"@=dword:0000002a\r\n"));
    std::string out;
    ASSERT_EQ(Sandbox.RegTool({"import", file}, &out), 0) << out;
    EXPECT_FALSE(KeyExists("SOFTWARE\\Old"));
    EXPECT_EQ(ValuesOf("SOFTWARE\\App"),
              (std::vector<StoredValue>{{"Name", REG_SZ, Sz("caf\xe9 \x80")},
                                        {"Path", REG_EXPAND_SZ, Sz("%A\xe9")},
                                        {"", REG_DWORD, Dword(42)}}));

    // REGEDIT4: 8-bit text, hex(2) bytes as they stand.
    WriteFile(file, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\App4]\n"
                    "\"Name\"=\"caf\xe9\"\n\"Path\"=hex(2):25,41,00\n");
    ASSERT_EQ(Sandbox.RegTool({"import", file}, &out), 0) << out;
    EXPECT_EQ(ValuesOf("SOFTWARE\\App4"),
              (std::vector<StoredValue>{{"Name", REG_SZ, Sz("caf\xe9")},
                                        {"Path", REG_EXPAND_SZ, Sz("%A")}}));

    // A character the 8-bit code page has no place for is refused, not mangled.
    WriteFile(file, Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
                          u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\App5]\r\n"
                          u"\"Name\"=\"\u4e2d\"\r\n"));
    EXPECT_EQ(Sandbox.RegTool({"import", file}, &out), 1);
    EXPECT_NE(out.find("Line 4: "), std::string::npos) << out;
    EXPECT_FALSE(KeyExists("SOFTWARE\\App5"));
}

TEST_F(RegToolTest, TextInTheLocalesCodePageSurvivesExportAndImport) {
    struct Row {
        const char* Locale;
        std::u16string Name; // as the user typed it
    };
    const Row rows[] = {
        {"en_US.UTF-8", u"Bank \u0421\u0447\u0451\u0442 \u039B\u03CC\u03B3\u03BF\u03C2 "
                        u"\u53E3\u5EA7 \U0001F600"},
        {"ru_RU.KOI8-R", u"Bank \u0421\u0447\u0451\u0442"},
        {"de_DE.ISO-8859-1", u"\u00DCberweisung f\u00FCr M\u00FCller"},
        // Multi-byte sets; in Shift JIS and Big5 the last character ends in 0x5C, which
        // must not escape the closing quote.
        {"ja_JP.SJIS", u"請求書 表ソ"},
        {"ja_JP.EUC-JP", u"請求書 表ソ"},
        {"zh_CN.GBK", u"发票 說"},
        {"zh_TW.BIG5", u"發票 許"},
        {"ko_KR.EUC-KR", u"청구서"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Locale);
        test::ScopedCodePage codePage(row.Locale);
        if (!codePage.Ok())
            GTEST_SKIP() << codePage.Why();
        const std::string bytes = SystemCodePage().FromUtf16(row.Name);
        ASSERT_EQ(SystemCodePage().ToUtf16(bytes), row.Name); // nothing lost on the way in
        test::ScopedLocale locale(row.Locale);
        RegistrySandbox sandbox;
        const char* k = "SOFTWARE\\Quillmere\\Ferrydesk\\Entry1";
        Set(k, "Identifier", REG_SZ, Sz(bytes));
        Set(k, "MatchString", REG_EXPAND_SZ, Sz(bytes));
        Set(k, bytes, REG_MULTI_SZ, bytes + std::string(1, '\0') + bytes + std::string(2, '\0'));
        const std::string original = Dump();

        for (bool regedit4 : {false, true}) {
            SCOPED_TRACE(regedit4 ? "REGEDIT4" : "5.00");
            const std::string file = sandbox.Dir() + (regedit4 ? "/out4.reg" : "/out5.reg");
            std::vector<std::string> args = {"export", "HKLM\\SOFTWARE", file};
            if (regedit4)
                args.push_back("/regedit4");
            std::string out;
            ASSERT_EQ(sandbox.RegTool(args, &out), 0) << out;
            const std::string written = ReadFile(file);
            // The 5.00 form holds the characters themselves, the emoji as a surrogate pair.
            const std::string expected =
                regedit4 ? "\"Identifier\"=\"" + bytes + "\""
                         : Utf16(u"\"Identifier\"=\"" + row.Name + u"\"").substr(2);
            EXPECT_NE(written.find(expected), std::string::npos);

            RegistrySandbox empty;
            ASSERT_EQ(empty.RegTool({"import", file}, &out), 0) << out;
            EXPECT_EQ(Dump(), original);
        }
    }

    // A UTF-16 file with characters KOI8-R lacks is refused there, with its line.
    test::ScopedCodePage koi8("ru_RU.KOI8-R");
    if (!koi8.Ok())
        return;
    test::ScopedLocale locale("ru_RU.KOI8-R");
    const std::string file = Sandbox.Dir() + "/cjk.reg";
    WriteFile(file, Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
                          u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\App]\r\n"
                          u"\"Ok\"=\"\u0421\u0447\u0451\u0442\"\r\n"
                          u"\"Name\"=\"\u53E3\"\r\n"));
    std::string out;
    EXPECT_EQ(Sandbox.RegTool({"import", file}, &out), 1);
    EXPECT_NE(out.find("Line 5: "), std::string::npos) << out;
}

// A backup of a key with very many values: query and export take time in proportion to the
// values (ten times the values, about ten times the time), and the output is complete.
TEST_F(RegToolTest, QueryAndExportGrowLinearlyWithTheValues) {
    auto seconds = [&](const std::vector<std::string>& args, std::string* out) {
        double best = 1e9;
        for (int round = 0; round < 2; ++round) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(Sandbox.RegTool(args, out), 0) << "timed out or failed: " << args[0];
            best = std::min(
                best,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    };
    double took[2][2] = {};
    const int counts[2] = {5000, 50000};
    for (int size = 0; size < 2; ++size) {
        const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk" + std::to_string(size);
        std::string text = "REGEDIT4\r\n\r\n[" + key + "]\r\n";
        for (int i = 0; i < counts[size]; ++i)
            text += "\"v" + std::to_string(i) + "\"=dword:" + std::string(8, '0') + "\r\n";
        const std::string file = Sandbox.Dir() + "/bulk.reg";
        WriteFile(file, text);
        std::string out;
        ASSERT_EQ(Sandbox.RegTool({"import", file}, &out), 0) << out;

        took[size][0] = seconds({"query", key}, &out);
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), counts[size] + 2);
        const std::string exported = Sandbox.Dir() + "/export.reg";
        took[size][1] = seconds({"export", key, exported, "/y", "/regedit4"}, &out);
        EXPECT_EQ(ReadFile(exported), text + "\r\n");
    }
    for (int tool = 0; tool < 2; ++tool)
        EXPECT_LT(took[1][tool], 15 * took[0][tool] + 0.5)
            << (tool ? "export" : "query") << ": " << took[0][tool] << " s for " << counts[0]
            << " values, " << took[1][tool] << " s for " << counts[1];
}

TEST(RegFileTest, BothFormsCarryTheCodePagesCharacters) {
    FERRY_IN_LOCALE("en_US.UTF-8");
    RegFile file;
    RegFileKey key;
    key.Root = HKEY_LOCAL_MACHINE;
    key.Path = "SOFTWARE\\Квартал";
    const std::string text = std::string("Σώσ 口座 😀") + '\0';
    key.Values.push_back({"Имя", false, REG_SZ, text, 0});
    key.Values.push_back({"Multi", false, REG_MULTI_SZ, std::string("\xE9\0😀\0\0", 8), 0});
    file.Keys.push_back(key);
    for (bool unicode : {true, false}) {
        std::string bytes, error;
        ASSERT_TRUE(WriteRegFile(file, unicode, bytes, error)) << error;
        if (unicode) { // the emoji as its surrogate pair
            EXPECT_NE(bytes.find(std::string("\x3D\xD8\x00\xDE", 4)), std::string::npos);
        }
        RegFile back;
        ASSERT_TRUE(ParseRegFile(bytes, back, error)) << error;
        ASSERT_EQ(back.Keys.size(), 1u);
        EXPECT_EQ(back.Keys[0].Path, key.Path);
        ASSERT_EQ(back.Keys[0].Values.size(), 2u);
        EXPECT_EQ(back.Keys[0].Values[0].Name, "Имя");
        EXPECT_EQ(back.Keys[0].Values[0].Data, text);
        EXPECT_EQ(back.Keys[0].Values[1].Data, key.Values[1].Data);
    }
}

} // namespace
} // namespace ferry
