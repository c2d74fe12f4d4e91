#pragma once

#include <QApplication>
#include <QString>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings_store.h"
#include "support/manual_interval_timer.h"
#include "support/registry_sandbox.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/application.h"
#include "ui/frm_task_list.h"
#include "ui/user_prompts.h"

namespace ferry::test {

// The boxes with their answers given in advance; every question and error is recorded.
class ScriptedPrompts : public UserPrompts {
public:
    struct Shown {
        std::string Message;
        TMsgDlgType Type;
        TMsgDlgButtons Buttons;
    };
    std::vector<Shown> Messages;
    std::vector<std::string> Errors;
    std::vector<std::string> BrowseTitles;
    std::vector<std::string> BrowseStarts; // what the field held when the browser opened
    std::deque<int> Answers;               // next MessageDlg results; empty gives mrOk
    std::deque<std::string> Folders;       // next folder choices; empty cancels

    int MessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons) override {
        Messages.push_back({message, type, buttons});
        if (Answers.empty())
            return mrOk;
        const int answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    void ErrorBox(const std::string& text) override { Errors.push_back(text); }
    bool BrowseForFolder(const std::string& title, std::string& path) override {
        BrowseTitles.push_back(title);
        BrowseStarts.push_back(path);
        if (Folders.empty())
            return false;
        path = Folders.front();
        Folders.pop_front();
        return true;
    }
};

// Every pass the program runs, told on the worker after the program's own observers. A test
// may hold a pass at its start, or make it fail there, through OnStart.
struct PassWatch : PassObserver {
    std::vector<int64_t> Started; // read it once the pass has settled
    std::function<void()> OnStart;
    void PassStarted(int64_t startMs) override {
        Started.push_back(startMs);
        if (OnStart)
            OnStart();
    }
};

// The whole program's windows on a manual clock and a scripted user, created as the program
// creates them, with its own routing passes watched.
class ProgramTest : public ::testing::Test {
protected:
    // A settings store of the test's own, empty until the test or the program fills it.
    RegistrySandbox Sandbox;
    // And a history of its own ($XDG_STATE_HOME/ferrydesk/), empty at the start.
    TempDir State;
    ScopedEnv StateHome{"XDG_STATE_HOME", State.Path()};
    ScriptedPrompts Prompts;
    ManualIntervalTimer* Timer = nullptr;
    bool Tray = true;
    PassWatch Watch;
    std::vector<int64_t>& Passes = Watch.Started; // one entry per pass the program ran
    // The notifications the tray icon was asked to show: title and text.
    std::vector<std::pair<QString, QString>> Balloons;
    // A pass started by a tick of the manual clock ends before the clock moves on, as if it
    // took no time; tests of what happens during a pass turn this off.
    bool SettleAfterTick = true;
    std::unique_ptr<TApplication> App;

    // Lets the running pass end on its thread and its end reach the window. False when it
    // was still running after `limit`.
    static bool SettlePass(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            QCoreApplication::processEvents();
            if (!FRM_TaskList || !FRM_TaskList->PassRunning())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void CreateProgram() {
        FormEnvironment env;
        env.MakeTimer = [this](QObject*, std::function<void()> onTick) {
            auto timer = std::make_unique<ManualIntervalTimer>();
            timer->OnTimer = [this, onTick = std::move(onTick)] {
                onTick();
                if (SettleAfterTick) {
                    EXPECT_TRUE(SettlePass()) << "the pass did not end";
                }
            };
            Timer = timer.get();
            return timer;
        };
        env.TrayAvailable = [this] { return Tray; };
        env.PassWatcher = &Watch;
        env.Prompts = &Prompts;
        env.ShowTrayMessage = [this](const QString& title, const QString& text) {
            Balloons.emplace_back(title, text);
        };
        App = std::make_unique<TApplication>(env);
        App->CreateForms();
    }
    // As the message loop starts: the main window is shown.
    void StartProgram() {
        CreateProgram();
        FRM_TaskList->Show();
    }
    void TearDown() override { App.reset(); }

    // The settings key as a first start leaves it, with `tasks` stored as entries.
    static void StoreTasks(const std::vector<TaskRecord>& tasks) {
        if (!SettingsKeyExists())
            InitialiseDefaults();
        TaskTable table;
        for (const auto& t : tasks)
            table.AppendTask(t);
        const TaskSnapshot s = table.Snapshot();
        SaveTaskEntries(s.Count, s);
    }
    static int32_t StoredInteger(const std::string& name) {
        TRegistryKey key;
        EXPECT_TRUE(OpenSettingsKey(key));
        return key.ReadInteger(name);
    }
    static std::string StoredString(const std::string& name) {
        TRegistryKey key;
        EXPECT_TRUE(OpenSettingsKey(key));
        return key.ReadString(name);
    }
    static void StoreInteger(const std::string& name, int32_t value) {
        TRegistryKey key;
        ASSERT_TRUE(OpenSettingsKey(key));
        key.WriteInteger(name, value);
    }
    static void StoreString(const std::string& name, const std::string& value) {
        TRegistryKey key;
        ASSERT_TRUE(OpenSettingsKey(key));
        key.WriteString(name, value);
    }
    static TaskRecord StoredTask(int n) { return ReadTaskEntry(TaskEntryPath(n)); }
    // A save leaves the stored table as another writer left it, so its mark is in the bytes:
    // the count stored in one byte (read as the same number) comes back in four.
    static void MarkCountUnsaved() {
        TRegistryKey key;
        ASSERT_TRUE(OpenSettingsKey(key));
        const int32_t count = key.ReadInteger("NumberOfEntries");
        ASSERT_EQ(RegSetValue(key.Handle(), "NumberOfEntries", REG_DWORD,
                              std::string(1, static_cast<char>(count))),
                  ERROR_SUCCESS);
    }
    static bool CountSaved() {
        TRegistryKey key;
        EXPECT_TRUE(OpenSettingsKey(key));
        DWORD type = 0;
        std::string data;
        return RegQueryValue(key.Handle(), "NumberOfEntries", type, data) == ERROR_SUCCESS &&
               data.size() == 4;
    }
};

} // namespace ferry::test
