// The runner's observers: the history records each pass's outcomes on the worker, and the
// windows then hear of its end on their own thread, whether or not a history could be written.
#include <QCoreApplication>
#include <chrono>
#include <thread>

#include "activity/activity_store.h"
#include "activity/pass_history.h"
#include "support/manual_interval_timer.h"
#include "support/temp_dir.h"
#include "ui/frm_task_list.h"
#include "ui/pass_runner.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

using namespace std::chrono_literals;

// A runner with the history on the worker and a recorder of each pass's end on this thread.
struct RunnerRig : PassObserver {
    explicit RunnerRig(ActivityStore* store) : History(store) {
        Timer.SetInterval(60000);
        Timer.SetEnabled(true);
    }
    void PassEnded(const PassEnd& end) override {
        OffThread |= std::this_thread::get_id() != Ui;
        RunningWhenTold = Runner.Running();
        Told.push_back(History.LastPass());
        Summaries.push_back(end.Summary.Text());
    }
    // Runs the event loop until the runner has told of `count` passes, 20 s at most.
    bool WaitTold(size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (Told.size() < count && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(1ms);
        }
        return Told.size() >= count;
    }

    ManualIntervalTimer Timer;
    Scheduler Sched{Timer};
    PassHistory History;
    PassRunner Runner{Sched, History, *this, nullptr};
    const std::thread::id Ui = std::this_thread::get_id();
    std::vector<RecordedPass> Told;
    std::vector<std::string> Summaries;
    bool OffThread = false;
    bool RunningWhenTold = true;
};

} // namespace

TEST(PassRecorded, TheWindowHearsOfEachPassOnItsThreadOnceItIsWritten) {
    TempDir files, state;
    const std::string in = files.MakeDir("in"), out = files.MakeDir("out");
    files.Write("in/a.txt", "MATCH a");
    files.Write("in/b.txt", "MATCH b");
    files.Write("in/dup.txt", "MATCH dup");
    files.Write("out/dup.txt", "older");
    ActivityStore store(state / "activity.sqlite3");
    RunnerRig rig(&store);

    ASSERT_TRUE(rig.Runner.Start({{"Invoices", in, out, "MATCH"}}, PassRules{true}));
    ASSERT_TRUE(rig.WaitTold(1));
    EXPECT_FALSE(rig.OffThread);
    EXPECT_FALSE(rig.RunningWhenTold); // the pass is over when the window hears of it
    EXPECT_TRUE(rig.Timer.Enabled());
    const RecordedPass& told = rig.Told[0];
    EXPECT_EQ(told.Summary.Text(), "Invoices: 2 files moved, 1 left (name taken)");
    EXPECT_EQ(rig.Summaries[0], told.Summary.Text());
    EXPECT_GT(told.PassId, 0);
    const std::vector<ActivityEntry> entries = store.List({});
    ASSERT_EQ(entries.size(), 3u);
    for (const ActivityEntry& e : entries)
        EXPECT_EQ(e.PassId, told.PassId);

    // No history: the pass runs and is told of all the same, unrecorded.
    RunnerRig unrecorded(nullptr);
    files.Write("in/c.txt", "MATCH c");
    ASSERT_TRUE(unrecorded.Runner.Start({{"Invoices", in, out, "MATCH"}}, PassRules{true}));
    ASSERT_TRUE(unrecorded.WaitTold(1));
    EXPECT_EQ(unrecorded.Told[0].PassId, 0);
    EXPECT_EQ(unrecorded.Summaries[0], "Invoices: 1 file moved, 1 left (name taken)");
    EXPECT_EQ(store.List({}).size(), 3u);

    // A pass that finds nothing: told of with an empty summary, nothing written.
    ASSERT_TRUE(rig.Runner.Start({{"Invoices", in, out, "NOTHING"}}, PassRules{true}));
    ASSERT_TRUE(rig.WaitTold(2));
    EXPECT_TRUE(rig.Told[1].Summary.Empty());
    EXPECT_EQ(rig.Told[1].PassId, 0);
    EXPECT_FALSE(rig.OffThread);
}

class MainWindowHistory : public ProgramTest {};

TEST_F(MainWindowHistory, TheMainWindowOpensItsHistoryInTheStateFolder) {
    StartProgram();
    ASSERT_NE(FRM_TaskList->Activity(), nullptr);
    EXPECT_EQ(FRM_TaskList->Activity()->Path(),
              qEnvironmentVariable("XDG_STATE_HOME").toStdString() + "/ferrydesk/activity.sqlite3");
}

} // namespace ferry::test
