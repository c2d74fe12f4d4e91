#pragma once

// What one routing pass knows of its source folders. The tasks that share a folder are
// matched together: the first of them to come to a file reads it once for itself and for
// every later task of the folder, and what that read found is kept until the pass ends, so
// a later task only looks again at a file it takes (and reads it again if it changed).

#include "core/conditions/folder_matcher.h"
#include "core/pass_list.h"
#include "core/pass_rules.h"
#include "core/task_table.h"

#include <cstddef>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace ferry {

// Who a file is: a changed file is another version.
struct FileVersion {
    uint64_t Device = 0, Inode = 0;
    int64_t Size = 0, ModifiedNs = 0, ChangedNs = 0;
    static FileVersion Of(const struct stat& st);
    bool operator==(const FileVersion&) const = default;
};

// What one read of a file found, for the tasks of its folder (by their place there).
struct FileRead {
    FileVersion Version;
    std::vector<bool> Asked;
    std::vector<TaskVerdict> Verdicts;
    std::vector<std::string> Unreadable; // why a task's text could not be read, or ""
    std::vector<std::string> Why;        // what matched, when kept from an earlier pass
    bool Taken = false;                  // moved by an earlier task (in a dry run: would have been)
};

struct FolderGroup {
    std::vector<TaskConditions> Tasks; // in table order
    std::unique_ptr<FolderMatcher> Matcher;
    std::unordered_map<std::string, FileRead> Files;
    // The folder as its first task listed it, temporaries left out; listed again only when a
    // task of the pass moved a file into it.
    FolderListing Listing;
    bool Listed = false;
    bool NeedsAge = false; // some task waits for files to age: every file is looked at
};

class PassFolders {
public:
    PassFolders(const std::vector<TaskRecord>& tasks, const PassRules& rules);
    ~PassFolders();

    // The group of task `n` of the pass, its matcher made, and the task's place in it.
    FolderGroup& GroupOf(std::size_t n, std::size_t& place);
    // Task `n` alone on its folder and asking nothing but its match string in the bytes:
    // it runs as tasks always have (read ahead, one search).
    bool Plain(std::size_t n) const;
    // A file moved into `folder` under `name` is not the one read there before, if any.
    void MovedInto(const std::string& folder, const std::string& name);
    // The pass's document reader, made the first time it is asked for; null without one.
    DocumentSource* Documents();

    const PassRules& Rules() const { return Rules_; }
    WallClock::time_point Now() const { return Now_; }

private:
    const PassRules& Rules_;
    WallClock::time_point Now_;
    std::vector<std::string> Keys_; // per task: its group's folder
    std::vector<std::size_t> Places_;
    std::unordered_map<std::string, FolderGroup> Groups_;
    std::unique_ptr<DocumentSource> Documents_;
    bool DocumentsMade_ = false;
};

// True the first time this process meets an unreadable version of a file: its outcome is
// recorded once, not at every pass.
bool FirstUnreadable(const FileVersion& version);

} // namespace ferry
