#include "core/pass_select.h"

#include <unordered_set>

#include "platform/file_move.h"

namespace ferry {

void SelectFiles(const TaskRecord& task, const std::string& from, FolderListing& listing) {
    if (task.MatchString.empty()) {
        listing = FolderListing();
        return;
    }
    DropMoveTemporaries(from, listing);
}

void DropMoveTemporaries(const std::string& from, FolderListing& listing) {
    KeepFiles(listing, [&](const std::string& name) { return !IsMoveTemporary(from + name); });
}

void KeepNamed(const std::vector<std::string>& names, FolderListing& listing) {
    const std::unordered_set<std::string> wanted(names.begin(), names.end());
    KeepFiles(listing, [&](const std::string& name) { return wanted.contains(name); });
}

} // namespace ferry
