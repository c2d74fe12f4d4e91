// ferrydesk --run-once as a user runs it: the real program on a private settings store, real
// folders and a real SMTP server, with no display at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "activity/activity_store.h"
#include "settings/mail_settings.h"
#include "settings/settings_store.h"
#include "settings/task_entries.h"
#include "support/registry_sandbox.h"
#include "support/scoped_env.h"
#include "support/smtp_sink.h"
#include "support/temp_dir.h"

namespace ferry::test {
namespace {

struct RunOnce {
    int Status = -1;
    std::vector<std::string> Lines; // standard output, sorted: files come in the folder's order
    std::string Errors;             // standard error
};

class RunOnceTest : public RegistrySandboxTest {
protected:
    TempDir State, Files;
    ScopedEnv StateHome{"XDG_STATE_HOME", State.Path().c_str()};
    ScopedEnv NoDisplay{"DISPLAY", nullptr};
    ScopedEnv NoWayland{"WAYLAND_DISPLAY", nullptr};

    RunOnce Run() {
        const std::string errors = Files / "stderr";
        const ChildResult r = RunProgram({"/bin/sh", "-c", "exec \"$0\" --run-once 2>\"$1\"",
                                          std::string(FERRY_BINARY_DIR) + "/bin/ferrydesk", errors},
                                         "", std::chrono::seconds(120));
        RunOnce once;
        once.Status = r.Exited ? r.ExitCode : -1;
        std::istringstream out(r.Output);
        for (std::string line; std::getline(out, line);)
            once.Lines.push_back(line);
        std::sort(once.Lines.begin(), once.Lines.end());
        once.Errors = TempDir::Read(errors);
        return once;
    }

    static void Store(const std::vector<TaskRecord>& tasks, int port) {
        InitialiseDefaults();
        TaskTable table;
        for (const TaskRecord& t : tasks)
            table.AppendTask(t);
        const TaskSnapshot snapshot = table.Snapshot();
        SaveTaskEntries(snapshot.Count, snapshot);
        TOptionsSettings options;
        options.Mail.SMTPEnabled = true;
        options.Mail.SMTPServer = "127.0.0.1";
        options.Mail.SMTPFrom = "ferry@example.com";
        options.Mail.SMTPTo = "clerk@example.com";
        options.Mail.SMTPMessage = "Files have been processed.";
        ASSERT_TRUE(WriteOptionsSettings(options, std::to_string(port), false));
    }
};

TEST_F(RunOnceTest, OnePassOfTheStoredTasksToldLineByLineRecordedAndMailed) {
    // Nothing stored: nothing to do, and nothing is written either.
    RunOnce none = Run();
    EXPECT_EQ(none.Status, 0) << none.Errors;
    EXPECT_TRUE(none.Lines.empty());
    EXPECT_FALSE(SettingsKeyExists());

    SmtpSink sink;
    for (const char* folder : {"inv", "inv-out", "notes", "notes-out"})
        Files.MakeDir(folder);
    Files.Write("inv/a.txt", "INVOICE 1");
    Files.Write("inv/b.txt", "invoice 2"); // case-folded by the stored rule
    Files.Write("inv/c.txt", "a letter");
    Files.Write("notes/n.txt", "INVOICE n");
    Files.Write("notes-out/n.txt", "older");
    Store({{"Invoices", Files / "inv", Files / "inv-out", "INVOICE"},
           {"Notes", Files / "notes", Files / "notes-out", "INVOICE"}},
          sink.Port());

    RunOnce once = Run();
    EXPECT_EQ(once.Status, 0) << once.Errors;
    EXPECT_EQ(once.Lines,
              (std::vector<std::string>{"Invoices: a.txt: moved", "Invoices: b.txt: moved",
                                        "Notes: n.txt: left (name taken)"}));
    EXPECT_EQ(Files.Entries("inv-out"), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(Files.Entries("inv"), std::vector<std::string>{"c.txt"});
    // One message per move attempt, as a windowed pass sends them.
    const auto messages = sink.WaitForMessages(3);
    ASSERT_EQ(messages.size(), 3u);
    for (const auto& m : messages)
        EXPECT_NE(m.data.find("\r\n\r\nFiles have been processed.\r\n"), std::string::npos);
    // And one pass in the history.
    ActivityStore history(ActivityStore::DefaultPath());
    const auto passes = history.RecentPasses(10);
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].Summary.Text(), "Invoices: 2 files moved; Notes: 1 left (name taken)");

    // A file that cannot be read ends the pass: its line, the error on standard error, status
    // 1, and the pass with its error in the history. The task after it does not run.
    Files.Write("inv/locked.txt", "INVOICE 3");
    Files.Write("notes/later.txt", "INVOICE later");
    const int holder = open((Files / "inv/locked.txt").c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    RunOnce failed = Run();
    close(holder);
    EXPECT_EQ(failed.Status, 1);
    EXPECT_EQ(failed.Errors, "ferrydesk: I/O error 32.\n");
    EXPECT_EQ(failed.Lines, std::vector<std::string>{"Invoices: locked.txt: error: I/O error 32."});
    EXPECT_TRUE(TempDir::Exists(Files / "notes/later.txt"));
    ASSERT_EQ(history.RecentPasses(10).size(), 2u);
    EXPECT_EQ(history.RecentPasses(10)[0].Summary.Text(), "Invoices: error");
}

// A notification that cannot be sent: the files move all the same, nothing is retried, and
// the history and the terminal say why, once per message.
TEST_F(RunOnceTest, ANotificationThatFailsIsKeptInTheHistoryWithItsReason) {
    Files.MakeDir("inv");
    Files.MakeDir("inv-out");
    Files.Write("inv/a.txt", "INVOICE 1");
    Store({{"Invoices", Files / "inv", Files / "inv-out", "INVOICE"}}, 1); // nobody listens
    RunOnce once = Run();
    EXPECT_EQ(once.Status, 0) << once.Errors;
    ASSERT_EQ(once.Lines.size(), 2u) << ::testing::PrintToString(once.Lines);
    EXPECT_EQ(once.Lines[0], "Invoices: a.txt: mail not sent: " +
                                 once.Lines[0].substr(once.Lines[0].rfind(": ") + 2));
    EXPECT_EQ(once.Lines[1], "Invoices: a.txt: moved");
    EXPECT_EQ(Files.Entries("inv-out"), std::vector<std::string>{"a.txt"});
    ActivityFilter notSent;
    notSent.Kind = static_cast<int>(OutcomeKind::MailNotSent);
    const auto entries = ActivityStore(ActivityStore::DefaultPath()).List(notSent);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Outcome.File, "a.txt");
    EXPECT_FALSE(entries[0].Outcome.Detail.empty());
    EXPECT_NE(once.Lines[0].find(entries[0].Outcome.Detail), std::string::npos);
}

} // namespace
} // namespace ferry::test
