// The real program, started as a user starts it, on a private display, a private settings
// store prepared with ferrydesk-reg and a local SMTP server: one press of Run Tasks Now must
// move the matching files and send one mail for each.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

#include "support/registry_sandbox.h"
#include "support/smtp_sink.h"
#include "support/temp_dir.h"
#include "virtual_display.h"

namespace ferry::test {
namespace {

using namespace std::chrono_literals;

const char* const kKey = "HKLM\\SOFTWARE\\Quillmere\\Ferrydesk";

// The environment variable for as long as the object lives, then the old value again.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : Name_(name) {
        if (const char* old = std::getenv(name)) {
            Had_ = true;
            Old_ = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (Had_)
            setenv(Name_, Old_.c_str(), 1);
        else
            unsetenv(Name_);
    }

private:
    const char* Name_;
    bool Had_ = false;
    std::string Old_;
};

template <class F> bool WaitFor(F ready, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return ready();
}

class EndToEnd : public ::testing::Test {
protected:
    RegistrySandbox Sandbox;

    void Add(const std::string& key, const std::string& name, const char* type,
             const std::string& data) {
        std::string output;
        ASSERT_EQ(Sandbox.RegTool({"add", key, "/v", name, "/t", type, "/d", data, "/f"}, &output),
                  0)
            << output;
    }
};

TEST_F(EndToEnd, RunTasksNowMovesTheMatchingFilesAndMailsEachMove) {
    for (const char* tool : {"Xvfb", "xdotool"})
        ASSERT_FALSE(FindProgram(tool).empty()) << tool << " is needed (scripts/deps/ui.txt)";
    VirtualDisplay display;
    ASSERT_TRUE(display.Running()) << display.Why();
    SmtpSink sink;

    TempDir files;
    const std::string source = files.MakeDir("in");
    const std::string destination = files.MakeDir("out");
    files.Write("in/a.txt", "header\nINVOICE 1001\n");
    files.Write("in/b.txt", "nothing to see here\n");
    files.Write("in/c.txt", "invoice, lower case: the match ignores case\n");

    Add(kKey, "NumberOfEntries", "REG_DWORD", "1");
    Add(kKey, "ProcessInterval", "REG_DWORD", "10");
    Add(kKey, "SMTPEnabled", "REG_DWORD", "1");
    Add(kKey, "SMTPPort", "REG_DWORD", std::to_string(sink.Port()));
    Add(kKey, "SMTPServer", "REG_SZ", "127.0.0.1");
    Add(kKey, "SMTPFrom", "REG_SZ", "ferry@example.com");
    Add(kKey, "SMTPTo", "REG_SZ", "clerk@example.com");
    Add(kKey, "SMTPMessage", "REG_SZ", "Files have been processed.");
    Add(kKey, "MSCaseSensitive", "REG_DWORD", "0");
    const std::string entry = std::string(kKey) + "\\Entry1";
    Add(entry, "Identifier", "REG_SZ", "Invoices");
    Add(entry, "Source", "REG_SZ", source);
    Add(entry, "Destination", "REG_SZ", destination);
    Add(entry, "MatchString", "REG_SZ", "INVOICE");

    ChildProcess program;
    {
        ScopedEnv platform("QT_QPA_PLATFORM", nullptr); // the real windowing system
        ScopedEnv x("DISPLAY", display.Name().c_str());
        program.StartProgram({std::string(FERRY_BINARY_DIR) + "/bin/ferrydesk"});
    }

    std::string window;
    ASSERT_TRUE(WaitFor(
        [&] {
            int code = 0;
            window = RunOnDisplay(
                display.Name(),
                {"xdotool", "search", "--onlyvisible", "--name", "^Ferrydesk by Quillmere$"}, code);
            window = window.substr(0, window.find('\n'));
            return code == 0 && !window.empty();
        },
        20s))
        << "the main window did not appear";
    EXPECT_TRUE(TempDir::Exists(source + "/a.txt")) << "nothing moves before the press";

    // Run Tasks Now: 420, 41, 93 x 26 in the window.
    int code = 0;
    RunOnDisplay(display.Name(),
                 {"xdotool", "mousemove", "--window", window, "466", "54", "click", "1"}, code);
    ASSERT_EQ(code, 0);

    EXPECT_TRUE(WaitFor(
        [&] {
            return TempDir::Exists(destination + "/a.txt") &&
                   TempDir::Exists(destination + "/c.txt");
        },
        20s));
    EXPECT_EQ(TempDir::Read(destination + "/a.txt"), "header\nINVOICE 1001\n");
    EXPECT_FALSE(TempDir::Exists(source + "/a.txt"));
    EXPECT_TRUE(TempDir::Exists(source + "/b.txt"));
    EXPECT_FALSE(TempDir::Exists(destination + "/b.txt"));

    const auto mails = sink.WaitForMessages(2, 20s);
    ASSERT_EQ(mails.size(), 2u) << "one mail for each moved file";
    for (const auto& mail : mails) {
        EXPECT_EQ(mail.mailFrom, "ferry@example.com");
        EXPECT_EQ(mail.rcptTo, std::vector<std::string>{"clerk@example.com"});
        EXPECT_NE(mail.data.find("Subject: Notification Message!\r\n"), std::string::npos);
        EXPECT_NE(mail.data.find("\r\n\r\nFiles have been processed.\r\n"), std::string::npos)
            << mail.data;
    }

    program.Kill(SIGTERM);
    const ChildResult ended = program.Wait(10s);
    EXPECT_FALSE(ended.TimedOut);
}

} // namespace
} // namespace ferry::test
