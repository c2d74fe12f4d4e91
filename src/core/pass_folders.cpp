#include "core/pass_folders.h"

#include "core/pass_list.h"
#include "platform/files.h"

#include <mutex>
#include <set>
#include <tuple>

namespace ferry {

namespace {

int64_t Ns(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::string FolderKey(const TaskRecord& task) {
    if (task.Source.empty() || task.Destination.empty())
        return {};
    return IncludeTrailingSeparator(task.Source);
}

bool LooksInDocuments(const TaskConditions& c) {
    return c.LookIn != 0;
}

} // namespace

FileVersion FileVersion::Of(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
            static_cast<int64_t>(st.st_size), Ns(st.st_mtim), Ns(st.st_ctim)};
}

PassFolders::PassFolders(const std::vector<TaskRecord>& tasks, const PassRules& rules)
    : Rules_(rules), Now_(WallClock::now()) {
    for (const TaskRecord& task : tasks) {
        Keys_.push_back(FolderKey(task));
        FolderGroup& group = Groups_[Keys_.back()];
        Places_.push_back(group.Tasks.size());
        group.Tasks.push_back(task.ConditionsForMatch());
        group.NeedsAge = group.NeedsAge || task.Conditions.MinAgeMinutes > 0;
    }
}

PassFolders::~PassFolders() = default;

FolderGroup& PassFolders::GroupOf(std::size_t n, std::size_t& place) {
    FolderGroup& group = Groups_.at(Keys_[n]);
    if (!group.Matcher)
        group.Matcher = std::make_unique<FolderMatcher>(group.Tasks, Rules_.CaseSensitive);
    place = Places_[n];
    return group;
}

bool PassFolders::Plain(std::size_t n) const {
    const FolderGroup& group = Groups_.at(Keys_[n]);
    const TaskConditions& c = group.Tasks[Places_[n]];
    return group.Tasks.size() == 1 && c.Kind == MatchKind::Text && c.ExcludeString.empty() &&
           !LooksInDocuments(c);
}

void PassFolders::MovedInto(const std::string& folder, const std::string& name) {
    const auto group = Groups_.find(folder);
    if (group != Groups_.end()) {
        group->second.Files.erase(name);
        group->second.Listed = false;
    }
}

DocumentSource* PassFolders::Documents() {
    if (!DocumentsMade_) {
        DocumentsMade_ = true;
        if (Rules_.Documents)
            Documents_ = Rules_.Documents();
    }
    return Documents_.get();
}

bool FirstUnreadable(const FileVersion& version) {
    static std::mutex lock;
    static std::set<std::tuple<uint64_t, uint64_t, int64_t, int64_t, int64_t>> seen;
    const auto key = std::make_tuple(version.Device, version.Inode, version.Size,
                                     version.ModifiedNs, version.ChangedNs);
    std::lock_guard<std::mutex> hold(lock);
    // Bounded: past this many, forgetting costs one more line in the history per file.
    if (seen.size() >= 100000)
        seen.clear();
    return seen.insert(key).second;
}

} // namespace ferry
