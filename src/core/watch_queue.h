#pragma once

// What the folder watch has found ready and no pass has taken yet. Passes never run side by
// side: files that arrive while one runs wait here, and the next pass takes all of them at
// once, however many batches they came in.

#include <string>
#include <vector>

#include "core/engine.h"
#include "platform/folder_watch.h"

namespace ferry {

class WatchQueue {
public:
    // Merges a batch: names already waiting are not added twice, and a folder to be passed
    // whole swallows its names.
    void Add(const ReadyFiles& ready);
    bool Empty() const { return Folders_.empty(); }

    // The pass for what waits, as runs of `tasks` (in their order) whose source is a waiting
    // folder; empties the queue. Nothing when no task reads from those folders any more.
    std::vector<PassTask> Take(const std::vector<TaskRecord>& tasks);

private:
    struct Waiting {
        std::string Folder;
        bool Whole = false;
        std::vector<std::string> Names;
    };
    std::vector<Waiting> Folders_;
};

} // namespace ferry
