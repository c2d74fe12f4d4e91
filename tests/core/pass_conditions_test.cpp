// Tasks with conditions through the engine's own entry point, on real folders: the tasks of
// one folder matched from one read give exactly what the same tasks give run one by one, and
// a dry run foretells the pass that follows it.

#include "core/engine.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace ferry {
namespace {

using test::TaskRun;
using test::TempDir;

TaskRecord Task(const std::string& name, const std::string& from, const std::string& to,
                const std::string& match, MatchKind kind = MatchKind::Text,
                const std::string& exclude = "", const std::string& names = "") {
    ConditionValues c;
    c.Kind = kind;
    c.ExcludeString = exclude;
    c.NamePattern = names;
    return {name, from, to, match, c};
}

// Two inboxes and their routes, laid out afresh in `root`: the first inbox has six tasks,
// one of whose destinations already holds a file of a name it will meet, and one task moves
// files into the first inbox between two of its tasks.
std::vector<TaskRecord> Lay(const TempDir& root) {
    for (const char* d : {"in", "in2", "inv", "acme", "re", "misc", "back", "pdf"})
        root.MakeDir(d);
    root.Write("in/a.txt", "INVOICE 7731 for ACME Ltd");
    root.Write("in/b.txt", "a reminder: invoice overdue");
    root.Write("in/c.pdf", "statement ACME-7731 page");
    root.Write("in/d.txt", "nothing to see");
    root.Write("in/e.txt", "Acme ltd invoice final notice");
    root.Write("in/f.txt", "ACME Ltd, REMINDER");
    root.Write("inv/e.txt", "already here"); // e.txt's first taker cannot move it
    root.Write("in2/g.txt", "ACME Ltd moved in later");
    root.Write("in2/h.txt", "left alone");
    const std::string in = root / "in";
    return {
        Task("Invoices", in, root / "inv", "invoice", MatchKind::AnyWord, "reminder"),
        Task("Pattern", in, root / "pdf", "ACME-[0-9]+", MatchKind::Pattern, "", "*.pdf"),
        Task("Bring", root / "in2", in, "moved", MatchKind::AnyWord),
        Task("Acme", in, root / "acme", "ACME Ltd", MatchKind::Phrase),
        Task("Bad", in, root / "misc", "(unclosed", MatchKind::Pattern),
        Task("Both", in, root / "re", "acme invoice", MatchKind::AllWords),
        Task("Plain", in, root / "misc", "reminder"),
    };
}

using Told = std::tuple<std::string, std::string, int, std::string>;

std::vector<Told> Outcomes(const TaskRun& run) {
    std::vector<Told> told;
    for (const FileOutcome& o : run.Outcomes)
        told.emplace_back(o.Task, o.File, static_cast<int>(o.Kind), o.Detail);
    return told;
}

std::vector<std::string> Tree(const TempDir& root) {
    std::vector<std::string> all;
    for (const char* d : {"in", "in2", "inv", "acme", "re", "misc", "back", "pdf"})
        for (const std::string& name : root.Entries(d))
            all.push_back(std::string(d) + "/" + name + "=" +
                          TempDir::Read(root / (std::string(d) + "/" + name)));
    return all;
}

TEST(PassConditionsTest, OneReadPerFolderGivesWhatTasksOneByOneGive) {
    for (const bool exact : {true, false}) {
        SCOPED_TRACE(exact ? "case-sensitive" : "case-insensitive");
        TempDir together, alone;
        TaskRun one, each;
        one.Pass(Lay(together), exact);
        for (const TaskRecord& task : Lay(alone))
            each.Pass({task}, exact);
        EXPECT_EQ(Outcomes(one), Outcomes(each));
        EXPECT_EQ(Tree(together), Tree(alone));
        EXPECT_EQ(one.Moves, each.Moves);
        EXPECT_GE(one.Moves, 4);
    }
    // What the history says, for one file of each kind (case-sensitive).
    TempDir root;
    TaskRun run;
    run.Pass(Lay(root));
    const std::vector<Told> told = Outcomes(run);
    const int moved = static_cast<int>(OutcomeKind::Moved);
    for (const Told& t :
         std::vector<Told>{{"Invoices", "e.txt", static_cast<int>(OutcomeKind::NameTaken), ""},
                           {"Pattern", "c.pdf", moved, "words: ACME-7731"},
                           {"Acme", "a.txt", moved, "words: \"ACME Ltd\""},
                           {"Acme", "g.txt", moved, "words: \"ACME Ltd\""},
                           {"Plain", "b.txt", moved, ""}})
        EXPECT_NE(std::find(told.begin(), told.end(), t), told.end()) << std::get<1>(t);
}

class Previews : public TaskRun {
public:
    std::vector<PreviewedFile> Seen;
    void FilePreviewed(const PreviewedFile& file) override { Seen.push_back(file); }
};

TEST(PassConditionsTest, DryRunMovesNothingAndForetellsThePass) {
    TempDir root;
    const std::vector<TaskRecord> tasks = Lay(root);
    const std::vector<std::string> before = Tree(root);
    Previews dry;
    PassRules rules(true);
    rules.DryRun = true;
    const PassEnd end = RunPass(tasks, rules, dry, CancelFlag());
    EXPECT_FALSE(end.Error);
    EXPECT_EQ(Tree(root), before);
    EXPECT_TRUE(dry.Outcomes.empty());
    EXPECT_EQ(dry.Moves, 0);

    std::set<std::pair<std::string, std::string>> foretold;
    std::map<std::string, std::string> why;
    for (const PreviewedFile& p : dry.Seen) {
        if (p.Taken)
            foretold.emplace(p.Task, p.File);
        why[p.Task + "/" + p.File] = p.Why;
    }
    EXPECT_EQ(why["Invoices/b.txt"], "it holds the excluded word reminder");
    EXPECT_EQ(why["Invoices/e.txt"], "a file of that name is already in the destination");
    EXPECT_EQ(why["Pattern/a.txt"], "the name does not match *.pdf");
    EXPECT_FALSE(why["Bad/d.txt"].empty());
    EXPECT_EQ(why["Acme/a.txt"], "words: \"ACME Ltd\"");

    Previews real;
    real.Pass({tasks}, true);
    std::set<std::pair<std::string, std::string>> moved;
    for (const FileOutcome& o : real.Outcomes)
        // A file another task moves into the inbox is not there yet to foretell.
        if (o.Kind == OutcomeKind::Moved && !(o.Task == "Acme" && o.File == "g.txt"))
            moved.emplace(o.Task, o.File);
    EXPECT_EQ(moved, foretold);
    EXPECT_TRUE(real.Seen.empty());
}

// A file read once for every task of its folder and changed before a later task's turn is
// read again at that turn: the later task judges the file as it is.
TEST(PassConditionsTest, AFileChangedAfterTheSharedReadIsReadAgain) {
    TempDir root;
    for (const char* d : {"in", "taken", "late"})
        root.MakeDir(d);
    root.Write("in/x.txt", "TAKE-1");
    root.Write("in/y.txt", "ACCOUNT-7731");
    root.Write("in/z.txt", "ACCOUNT-7732");
    const std::string in = root / "in";
    TaskRun run;
    run.OnMove = [&] { root.Write("in/y.txt", "no account here"); };
    run.Pass({Task("Reads all", in, root / "taken", "NONE-[0-9]", MatchKind::Pattern),
              Task("Takes x", in, root / "taken", "TAKE-[0-9]", MatchKind::Pattern),
              Task("Late", in, root / "late", "ACCOUNT-[0-9]{4}", MatchKind::Pattern)});
    EXPECT_EQ(root.Entries("taken"), std::vector<std::string>{"x.txt"});
    EXPECT_EQ(root.Entries("late"), std::vector<std::string>{"z.txt"});
    EXPECT_EQ(TempDir::Read(root / "in/y.txt"), "no account here");
}

// A pattern that backtracking would take forever over: the pass ends in time that grows with
// the file, not with the pattern's ways of matching it.
TEST(PassConditionsTest, HostilePatternEndsInTimeProportionalToTheFile) {
    double seconds[2] = {};
    for (const int mib : {1, 4}) {
        TempDir in, out;
        in.Write("a.txt", std::string(static_cast<std::size_t>(mib) << 20, 'a') + "!");
        TaskRun run;
        const auto start = std::chrono::steady_clock::now();
        run.Pass({Task("T", in.Path(), out.Path(), "(a+)+$", MatchKind::Pattern),
                  Task("U", in.Path(), out.Path(), "(x+x+)+y", MatchKind::Pattern)});
        seconds[mib / 4] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_TRUE(run.Outcomes.empty()); // a '!' ends the file: neither matches
    }
    std::printf("hostile pattern: 1 MiB %.3f s, 4 MiB %.3f s\n", seconds[0], seconds[1]);
    EXPECT_LT(seconds[1], 20.0);
}

} // namespace
} // namespace ferry
