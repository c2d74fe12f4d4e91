#include "core/task_pass.h"

#include "base/cancellation.h"
#include "core/pass_list.h"
#include "core/pass_match.h"
#include "core/pass_move.h"
#include "core/pass_report.h"
#include "core/pass_select.h"
#include "platform/files.h"

namespace ferry {

void RunTask(const TaskRecord& task, const PassRules& rules, PassReport& report,
             const std::vector<std::string>* only) {
    report.BeginTask(task);
    // An empty path would turn into the root folder once the separator is added.
    if (task.Source.empty() || task.Destination.empty())
        return;
    const TaskFolders folders{IncludeTrailingSeparator(task.Source),
                              IncludeTrailingSeparator(task.Destination)};

    FolderListing files;
    if (!ListSourceFolder(folders, files))
        return;
    SelectFiles(task, folders.From, files);
    if (only)
        KeepNamed(*only, files);

    MoveStage move(folders);
    ContentMatch match(folders, files, task.MatchString, rules, move.Batch());
    MatchedFile file;
    try {
        for (std::size_t i = 0; i < files.Names.size(); ++i) {
            const std::string& name = files.Names[i];
            // Work called off stops here, between files: never in the middle of a move.
            ThrowIfThreadCancelled();
            report.Finished(move.Advance());
            report.At(name);
            if (!match.Next(i, file))
                continue;
            // A failed move (name taken, file in use) leaves the file for the next pass.
            report.Moved(name, move.Move(name, i, files.Plain[i], file, match), folders.From,
                         folders.To);
        }
    } catch (...) {
        // What was moved is told before the error that ended the pass.
        report.Finished(move.Finish());
        throw;
    }
    report.At("");
    report.Finished(move.Finish());
}

} // namespace ferry
