#include "core/task_pass.h"

#include "base/cancellation.h"
#include "core/pass_conditions.h"
#include "core/pass_folders.h"
#include "core/pass_list.h"
#include "core/pass_match.h"
#include "core/pass_move.h"
#include "core/pass_report.h"
#include "core/pass_select.h"
#include "platform/files.h"

#include <sys/stat.h>

namespace ferry {

namespace {

// The select stage's names and ages, for a task that runs the plain way.
void SelectByConditions(std::size_t n, const std::string& from, PassFolders& pass,
                        FolderListing& files) {
    std::size_t place = 0;
    const FolderGroup& group = pass.GroupOf(n, place);
    const TaskConditions& c = group.Tasks[place];
    if (c.NamePattern.empty() && c.MinAgeMinutes == 0)
        return;
    KeepFiles(files, [&](const std::string& name) {
        FileFacts facts{name, {}};
        struct stat st {};
        if (c.MinAgeMinutes > 0) {
            if (stat((from + name).c_str(), &st) != 0)
                return false; // gone since the listing
            facts = FileFacts::FromStat(name, st);
        }
        return group.Matcher->Select(place, facts, pass.Now()).Selected;
    });
}

} // namespace

void RunTask(const TaskRecord& task, std::size_t n, PassFolders& pass, PassReport& report,
             const std::vector<std::string>* only) {
    const PassRules& rules = pass.Rules();
    report.BeginTask(task);
    // An empty path would turn into the root folder once the separator is added.
    if (task.Source.empty() || task.Destination.empty())
        return;
    const TaskFolders folders{IncludeTrailingSeparator(task.Source),
                              IncludeTrailingSeparator(task.Destination)};

    if (rules.DryRun || !pass.Plain(n)) {
        RunConditionTask(n, folders, pass, report, only);
        return;
    }
    FolderListing files;
    if (!ListSourceFolder(folders, files))
        return;
    SelectFiles(task, folders.From, files);
    SelectByConditions(n, folders.From, pass, files);
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
            const auto again = [&match](std::size_t index, MatchedFile& f) {
                return match.Again(index, f);
            };
            report.Moved(name, move.Move(name, i, files.Plain[i], file, again), folders.From,
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
