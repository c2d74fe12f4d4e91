// The tray program routing files as they arrive: switched on and off from the Activity
// window, a pass of just the arrived files, the line that says what is watched.
#include <QCheckBox>
#include <QLabel>
#include <filesystem>

#include "settings/watch_setting.h"
#include "ui/frm_activity.h"
#include "ui/ui_fixture.h"
#include "ui/watch_trigger.h"

namespace ferry::test {
namespace {

using namespace std::chrono_literals;

class WatchWindow : public ProgramTest {
protected:
    TempDir In, Out;

    // Runs the event loop until `done`, at most `limit`.
    static bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    bool Arrived(const std::string& name, std::chrono::milliseconds limit) {
        return Until([&] { return std::filesystem::exists(Out / name); }, limit);
    }
};

TEST_F(WatchWindow, TheCheckBoxSwitchesWatchingAndArrivedFilesArePassedAlone) {
    StoreTasks({{"T", In.Path(), Out.Path(), "MATCH"}, {"U", "/no/such/folder", Out.Path(), "M"}});
    In.Write("before.txt", "MATCH"); // left for the timer: no event came for it
    StartProgram();
    EXPECT_FALSE(FRM_TaskList->Watch().On()) << "absent means the timer alone";

    FRM_TaskList->LBL_ActivityClick();
    auto* check = FRM_TaskList->FRM_Activity->findChild<QCheckBox*>("CHK_Watch");
    auto* line = FRM_TaskList->FRM_Activity->findChild<QLabel*>("LBL_Watch");
    ASSERT_TRUE(check && line);
    EXPECT_FALSE(check->isChecked());
    check->click();
    EXPECT_TRUE(ReadWatchFolders());
    EXPECT_TRUE(Until([&] { return line->text() == "Watching 1 folder, 1 not found"; }, 5s))
        << line->text().toStdString();

    In.Write("new.txt", "MATCH");
    ASSERT_TRUE(Arrived("new.txt", 10s));
    ASSERT_TRUE(SettlePass());
    EXPECT_EQ(Passes.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(In / "before.txt")) << "only the arrived file";
    EXPECT_EQ(Timer->Ticks(), 0);

    // The timer's pass still comes at its time and takes the rest.
    Timer->AdvanceMinutes(10);
    EXPECT_TRUE(std::filesystem::exists(Out / "before.txt"));

    check->click();
    EXPECT_FALSE(ReadWatchFolders());
    EXPECT_FALSE(FRM_TaskList->Watch().On());
    In.Write("later.txt", "MATCH");
    EXPECT_FALSE(Arrived("later.txt", 500ms));
}

} // namespace
} // namespace ferry::test
