#include "core/watch_queue.h"

#include <algorithm>

namespace ferry {

void WatchQueue::Add(const ReadyFiles& ready) {
    if (!ready.WholeFolder && ready.Names.empty())
        return;
    auto it = std::find_if(Folders_.begin(), Folders_.end(),
                           [&](const Waiting& w) { return w.Folder == ready.Folder; });
    if (it == Folders_.end()) {
        Folders_.push_back({ready.Folder});
        it = std::prev(Folders_.end());
    }
    if (ready.WholeFolder) {
        it->Whole = true;
        it->Names.clear();
    }
    if (it->Whole)
        return;
    for (const std::string& name : ready.Names)
        if (std::find(it->Names.begin(), it->Names.end(), name) == it->Names.end())
            it->Names.push_back(name);
}

std::vector<PassTask> WatchQueue::Take(const std::vector<TaskRecord>& tasks) {
    std::vector<PassTask> runs;
    for (const TaskRecord& task : tasks) {
        if (task.Source.empty())
            continue;
        const std::string folder = WatchedFolderName(task.Source);
        for (const Waiting& w : Folders_) {
            if (w.Folder != folder)
                continue;
            runs.push_back({task, w.Whole, w.Whole ? std::vector<std::string>{} : w.Names});
            break;
        }
    }
    Folders_.clear();
    return runs;
}

} // namespace ferry
