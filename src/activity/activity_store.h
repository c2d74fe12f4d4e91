#pragma once

// The history of what the passes did with each file, in a database of its own.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "core/file_outcome.h"

namespace ferry {

// Why the history could not be opened, read or written. The message says it in plain words,
// fit to follow "The history cannot be written: " and the like.
class HistoryError : public Exception {
public:
    enum Cause {
        Busy,     // another program (or copy) holds the database past the wait
        ReadOnly, // the folder or the file may not be written
        DiskFull, // no room left on its disk
        Foreign,  // the file at the history's path is something else; it is left alone
        Newer,    // written by a newer version of the program
        Other,    // anything else: damage, a failing disk
    };
    HistoryError(Cause cause, std::string message) : Exception(std::move(message)), Why(cause) {}
    Cause Why;
};

struct ActivityEntry {
    int64_t Id = 0;
    int64_t PassId = 0;
    FileOutcome Outcome;
    bool MovedBack = false;
};

// Which entries List returns: an empty Task means every task, Kind -1 every kind; with
// MovedBackOnly, only the moved files that were moved back since.
struct ActivityFilter {
    std::string Task;
    int Kind = -1;
    int Limit = 10000;
    bool MovedBackOnly = false;
};

struct RecordedPass {
    int64_t PassId = 0;
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    PassSummary Summary;
    // Set when the pass could not be recorded: why, in plain words (HistoryError's message).
    std::string HistoryError;
};

// The history of outcomes, kept in a SQLite database of its own (never in the settings
// hive), bounded to the newest kKeptOutcomes outcomes, safe with two running copies of the
// program writing at once. Failures raise HistoryError with a plain message. A file at the
// path that is not a history is refused before anything in it is changed.
//
// Thread-safe: the writes go through one SQLite connection and the reads through another,
// each used under its own mutex; the database is in WAL mode, so a read never waits for a
// write, of this copy or another. The writes the windows make (SetMovedBack, Clear) wait a
// short while at most, for the database and for a pass recording meanwhile, and then fail
// as Busy: the window never freezes.
class ActivityStore {
public:
    static constexpr int kKeptOutcomes = 10000;

    // $XDG_STATE_HOME/ferrydesk/activity.sqlite3, $HOME/.local/state/... when unset.
    static std::string DefaultPath();

    explicit ActivityStore(std::string path);
    ~ActivityStore();
    ActivityStore(const ActivityStore&) = delete;
    ActivityStore& operator=(const ActivityStore&) = delete;

    const std::string& Path() const;

    // One pass's outcomes in one transaction; returns the pass's id. May be called from the
    // pass's thread while the windows read on theirs. A pass with no outcome is not kept: 0.
    // The oldest outcomes beyond kKeptOutcomes go in the same transaction, and a pass with
    // none left goes with them.
    int64_t RecordPass(int64_t startMs, int64_t endMs, const std::vector<FileOutcome>& outcomes);

    // Newest first.
    std::vector<ActivityEntry> List(const ActivityFilter& filter) const;
    // The newest passes that had outcomes, newest first.
    std::vector<RecordedPass> RecentPasses(int limit) const;
    // Every task name in the history, sorted, for the filter.
    std::vector<std::string> Tasks() const;

    // Marks an entry as moved back; false when there is no such entry.
    bool SetMovedBack(int64_t id);
    // Empties the history.
    void Clear();

    // The desktop-notification switch as earlier versions kept it here: handed to `keep` when
    // one is stored, and forgotten once `keep` returns (kept when it raises). The settings keep
    // it now.
    void CarryDesktopNotifications(const std::function<void(bool on)>& keep);

private:
    struct Impl;
    std::unique_ptr<Impl> Impl_;
};

} // namespace ferry
