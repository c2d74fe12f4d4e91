#include "app/headless.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "app/command_line_observers.h"
#include "core/engine.h"
#include "core/scheduler.h"
#include "core/watch_driver.h"
#include "core/watch_queue.h"
#include "core/watch_text.h"
#include "extract/program_pass_rules.h"
#include "platform/instance_lock.h"
#include "settings/settings_store.h"
#include "settings/watch_setting.h"

namespace ferry {

namespace {

using Clock = std::chrono::steady_clock;

void Say(const std::string& line) {
    std::fprintf(stderr, "ferrydesk: %s\n", line.c_str());
    std::fflush(stderr);
}

// What the threads share: the watch's news and the end asked by a signal.
struct Wakeups {
    std::mutex Lock;
    std::condition_variable Cv;
    bool News = false;
    bool Stop = false;
};

sigset_t EndSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, sig);
    return set;
}

struct Settings {
    TaskTable Table;
    uint32_t PeriodMs = 0;
    bool Watch = false;
};

// Into `s` only when the whole of it could be read: a store that cannot be read now leaves the
// settings in hand as they were.
bool ReadSettings(Settings& s) {
    try {
        Settings read;
        TStartupLoad load;
        read.Table.WriteHeadings();
        LoadStartupSettings(read.Table, load);
        read.PeriodMs = TimerPeriodForMinutes(load.ProcessInterval.value_or(10));
        read.Watch = ReadWatchFolders();
        s = std::move(read);
        return true;
    } catch (const std::exception& e) {
        Say(e.what());
        return false;
    }
}

std::vector<std::string> SourceFolders(const std::vector<TaskRecord>& tasks) {
    std::vector<std::string> folders;
    for (const TaskRecord& task : tasks)
        if (!task.Source.empty() && !task.Destination.empty() && !task.MatchString.empty())
            folders.push_back(task.Source);
    return folders;
}

} // namespace

void BlockEndSignals() {
    const sigset_t ends = EndSignals();
    pthread_sigmask(SIG_BLOCK, &ends, nullptr);
}

int RunHeadless() {
    BlockEndSignals(); // already, when main did as it should
    const sigset_t ends = EndSignals();
    InstanceLock lock;
    switch (lock.Take(HeadlessLockPath())) {
    case InstanceLock::Result::Taken:
        break;
    case InstanceLock::Result::HeldByOther:
        Say("another ferrydesk --headless (process " + std::to_string(lock.Holder()) +
            ") already serves these settings");
        return kHeadlessRefused;
    case InstanceLock::Result::Unavailable:
        Say("cannot lock " + HeadlessLockPath() + ": " + std::strerror(lock.Error()));
        return 1;
    }
    if (!SettingsKeyPresent("ProcessInterval")) {
        Say("no settings are stored yet; start the windows once, or store them with "
            "ferrydesk-reg");
        return kHeadlessRefused;
    }
    Settings settings;
    if (!ReadSettings(settings))
        return 1;

    Wakeups wake;
    CancelFlag cancel;
    std::thread signals([&] {
        int sig = 0;
        sigwait(&ends, &sig);
        cancel.Cancel(); // the pass under way stops after its current file
        std::lock_guard<std::mutex> guard(wake.Lock);
        wake.Stop = true;
        wake.Cv.notify_all();
    });

    CommandLineObservers watchers(stderr);
    PassObservers& observers = watchers.All;
    const OutcomeLines& lines = watchers.Lines;

    std::unique_ptr<WatchDriver> watch;
    if (settings.Watch) {
        watch = std::make_unique<WatchDriver>(
            [&] {
                std::lock_guard<std::mutex> guard(wake.Lock);
                wake.News = true;
                wake.Cv.notify_all();
            },
            WatchOptionsFromEnvironment());
        watch->SetFolders(SourceFolders(TaskRowsForPass(settings.Table)));
    }
    Say("routing " + std::to_string(TaskRowsForPass(settings.Table).size()) + " tasks" +
        (settings.PeriodMs ? ", every " + std::to_string(settings.PeriodMs / 60000) + " min"
                           : ", with no timed passes") +
        (watch ? ", and files as they arrive" : ""));

    WatchQueue queue;
    auto nextTimed = [&] {
        return settings.PeriodMs ? Clock::now() + std::chrono::milliseconds(settings.PeriodMs)
                                 : Clock::time_point::max();
    };
    Clock::time_point timedAt = nextTimed();
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(wake.Lock);
            wake.Cv.wait_until(guard, timedAt, [&] { return wake.Stop || wake.News; });
            if (wake.Stop)
                break;
            wake.News = false;
        }
        std::vector<PassTask> runs;
        if (Clock::now() >= timedAt) {
            // The timed pass reads the stored table afresh: a change made meanwhile (by the
            // windows or ferrydesk-reg) is in it, and the watch follows.
            ReadSettings(settings);
            const std::vector<TaskRecord> tasks = TaskRowsForPass(settings.Table);
            if (watch)
                watch->SetFolders(SourceFolders(tasks));
            for (const TaskRecord& task : tasks)
                runs.push_back({task});
            queue = WatchQueue();
            timedAt = nextTimed();
        }
        if (watch) {
            WatchNews news = watch->Take();
            for (const FolderWatchStatus& status : news.Changed)
                if (status.State != FolderWatchState::Watched)
                    Say(WatchStateText(status));
            for (const ReadyFiles& ready : news.Ready)
                queue.Add(ready);
            if (runs.empty() && !queue.Empty())
                runs = queue.Take(TaskRowsForPass(settings.Table));
        }
        if (runs.empty())
            continue;
        const PassRules rules = ProgramPassRules();
        const PassEnd end = RunPassTasks(runs, rules, observers, cancel);
        if (end.Error && !cancel.Cancelled() && !lines.Error.empty())
            Say(lines.Error); // the next pass comes all the same: nobody is there to resume it
    }
    watch.reset();
    signals.join();
    return 0;
}

} // namespace ferry
