#pragma once

// The history of what the passes did with each file, in a database of its own.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/file_outcome.h"

namespace ferry {

struct ActivityEntry {
    int64_t Id = 0;
    int64_t PassId = 0;
    FileOutcome Outcome;
    bool MovedBack = false;
};

// Which entries List returns: an empty Task means every task, Kind -1 every kind.
struct ActivityFilter {
    std::string Task;
    int Kind = -1;
    int Limit = 10000;
};

struct RecordedPass {
    int64_t PassId = 0;
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    PassSummary Summary;
};

// The history of outcomes, kept in a SQLite database of its own (never in the settings
// hive), bounded to the newest kKeptOutcomes outcomes, safe with two running copies of the
// program writing at once. Failures raise Exception (base/exception.h) with a clear message.
//
// Thread-safe: the writes go through one SQLite connection and the reads through another,
// each used under its own mutex; the database is in WAL mode, so a read never waits for a
// write, of this copy or another.
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
