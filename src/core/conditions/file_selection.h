#pragma once

// The select stage's test of one file against one task: its name and how long it has been
// left alone, before anything of it is read.

#include "core/conditions/name_patterns.h"
#include "core/conditions/task_conditions.h"

#include <chrono>
#include <string>
#include <sys/stat.h>

namespace ferry {

using WallClock = std::chrono::system_clock;

// What the listing tells of a file.
struct FileFacts {
    std::string Name;
    // The later of its modification and status-change times: a file copied or moved in with
    // an old modification time has changed, for this purpose, when it arrived.
    WallClock::time_point Changed;

    static FileFacts FromStat(std::string name, const struct stat& st);
};

struct Selection {
    bool Selected = true;
    std::string Reason; // why not, in a person's words
};

class FileSelector {
public:
    FileSelector(const TaskConditions& conditions, const TextReader& reader);

    // `now` is the pass's clock, read once at its start.
    Selection Check(const FileFacts& file, WallClock::time_point now) const;

private:
    NamePatterns Names_;
    std::string NameText_;
    uint32_t MinAgeMinutes_;
};

} // namespace ferry
