// Drives bench/history-on-vs-off: one pass of the program's own, as Run Tasks Now runs it (the
// routing pass with SendNotification after every move, reading the notification settings from
// the hive each time), with the activity history on or off.
//
//   history_bench pass SRC DST PATTERN off          the pass as it ran before the history
//   history_bench pass SRC DST PATTERN on STORE     the pass gathering its outcomes and writing
//                                                   them to the history at STORE at its end
//
// Prints the files moved, the seconds taken (the history's write included) and, with the
// history on, roughly how many of them the write took (to the millisecond).

#include "activity/activity_store.h"
#include "activity/pass_history.h"
#include "core/engine.h"
#include "mail/mail_notifier.h"
#include "mail/notification.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace ferry;

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Counts the move attempts, as the script checks every file moved.
struct Moves : PassObserver {
    long Count = 0;
    void MoveAttempted(const FileOutcome&) override { ++Count; }
};

int Pass(const std::string& src, const std::string& dst, const std::string& pattern, bool on,
         const std::string& storePath) {
    const std::vector<TaskRecord> rows = {{"Bench", src, dst, pattern}};
    Moves moves;
    MailNotifier mail;
    const CancelFlag never;
    double seconds = 0;
    double writing = 0; // of which writing the history
    if (on) {
        // Opened as the main window opens it, before any pass.
        ActivityStore store(storePath);
        PassHistory history(&store);
        PassObservers observers{&history, &mail, &moves};
        const double start = Now();
        const PassEnd end = RunPass(rows, PassRules{false}, observers, never);
        seconds = Now() - start;
        // The pass's end is taken just before the write.
        writing = seconds - (end.EndMs - end.StartMs) / 1000.0;
        if (history.LastPass().PassId <= 0) {
            std::fprintf(stderr, "history_bench: the pass was not recorded\n");
            return 1;
        }
    } else {
        PassObservers observers{&mail, &moves};
        const double start = Now();
        RunPass(rows, PassRules{false}, observers, never);
        seconds = Now() - start;
    }
    std::printf("%ld %.6f %.6f\n", moves.Count, seconds, writing);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 5 && args[0] == "pass" && args[4] == "off")
            return Pass(args[1], args[2], args[3], false, "");
        if (args.size() == 6 && args[0] == "pass" && args[4] == "on")
            return Pass(args[1], args[2], args[3], true, args[5]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "history_bench: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: see the comment at the top of bench/history_bench.cpp\n");
    return 2;
}
