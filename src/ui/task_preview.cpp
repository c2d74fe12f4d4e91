#include "ui/task_preview.h"

#include <algorithm>
#include <map>

#include "core/engine.h"
#include "platform/files.h"

namespace ferry {

namespace {

// Stands in for task names in the dry run, so its reports are told apart whatever the
// tasks are called; no name a user types starts with a control character.
std::string Tag(std::size_t n) {
    return "\x01" + std::to_string(n);
}

struct Collect : PassObserver {
    std::vector<PreviewedFile> Files;
    void FilePreviewed(const PreviewedFile& file) override { Files.push_back(file); }
};

} // namespace

std::vector<PreviewRow> PreviewTask(const std::vector<TaskRecord>& before, const TaskRecord& task,
                                    PassRules rules, const CancelFlag& cancel) {
    // Only the tasks on the same folder can take its files first; the rest need not be read.
    const std::string folder = IncludeTrailingSeparator(task.Source);
    std::vector<TaskRecord> tasks;
    std::map<std::string, std::string> names;
    for (std::size_t n = 0; n < before.size(); ++n) {
        if (before[n].Identifier.empty() || IncludeTrailingSeparator(before[n].Source) != folder)
            continue;
        tasks.push_back(before[n]);
        tasks.back().Identifier = Tag(n);
        names[Tag(n)] = before[n].Identifier;
    }
    const std::string mine = Tag(before.size());
    tasks.push_back(task);
    tasks.back().Identifier = mine;

    rules.DryRun = true;
    Collect collect;
    const PassEnd end = RunPass(tasks, rules, collect, cancel);
    if (end.Error)
        std::rethrow_exception(end.Error);

    std::vector<PreviewRow> rows;
    for (const PreviewedFile& file : collect.Files) {
        if (file.Task == mine) {
            std::string outcome = file.Taken ? "would move" : "would stay: " + file.Why;
            if (file.Taken && !file.Why.empty())
                outcome += " (" + file.Why + ")";
            rows.push_back({file.File, file.Taken, outcome});
        } else if (file.Taken) {
            // The dry run says nothing of it for this task: an earlier one has it.
            rows.push_back(
                {file.File, false, "would stay: the task " + names[file.Task] + " takes it first"});
        }
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const PreviewRow& a, const PreviewRow& b) { return a.File < b.File; });
    return rows;
}

} // namespace ferry
