// Passes of files a watched folder reported: what waits is merged, taken in table order, and
// the pass looks at the named files only.
#include "core/engine.h"
#include "core/watch_queue.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace ferry {
namespace {

using test::TempDir;

TEST(WatchPass, BatchesMergeAndTheTakenPassRunsOnlyTheirFilesInTableOrder) {
    TempDir in, other, out1, out2;
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        in.Write(name, std::string("KEY ") + name);
    other.Write("d.txt", "KEY d");

    WatchQueue queue;
    EXPECT_TRUE(queue.Take({{"T", in.Path(), out1.Path(), "KEY"}}).empty());
    queue.Add({in.Path(), {"c.txt", "a.txt"}, false});
    queue.Add({in.Path(), {"a.txt", "gone.txt"}, false}); // a.txt only once
    queue.Add({"/no/task/reads/this", {"x"}, false});
    const std::vector<TaskRecord> table = {
        {"First", in.Path() + "/", out1.Path(), "KEY c"}, // trailing separator: same folder
        {"Other", other.Path(), out2.Path(), "KEY"},      // nothing waits for its folder
        {"Second", in.Path(), out2.Path(), "KEY"},
    };
    const std::vector<PassTask> runs = queue.Take(table);
    EXPECT_TRUE(queue.Empty());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].Task.Identifier, "First");
    EXPECT_EQ(runs[1].Task.Identifier, "Second");
    EXPECT_FALSE(runs[1].AllFiles);
    EXPECT_EQ(runs[1].Only, (std::vector<std::string>{"c.txt", "a.txt", "gone.txt"}));

    // First takes c.txt (its match), Second a.txt; b.txt was not named and stays, as does
    // the other folder's file; the name gone from the folder is no outcome at all.
    test::TaskRun observer;
    const PassEnd end = RunPassTasks(runs, PassRules{true}, observer, CancelFlag());
    EXPECT_FALSE(end.Error);
    EXPECT_EQ(out1.Entries(), std::vector<std::string>{"c.txt"});
    EXPECT_EQ(out2.Entries(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(in.Entries(), std::vector<std::string>{"b.txt"});
    EXPECT_EQ(other.Entries(), std::vector<std::string>{"d.txt"});
    EXPECT_EQ(observer.Outcomes.size(), 2u);

    // A whole-folder batch swallows names before and after it: the pass takes every file.
    queue.Add({in.Path(), {"b.txt"}, false});
    queue.Add({in.Path(), {}, true});
    queue.Add({in.Path(), {"zzz"}, false});
    const std::vector<PassTask> whole = queue.Take(table);
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_TRUE(whole[0].AllFiles);
    RunPassTasks(whole, PassRules{true}, observer, CancelFlag());
    EXPECT_TRUE(in.Entries().empty());
}

} // namespace
} // namespace ferry
