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
    std::size_t kept = 0;
    for (std::size_t i = 0; i < listing.Names.size(); ++i) {
        if (IsMoveTemporary(from + listing.Names[i]))
            continue;
        if (kept != i) {
            listing.Names[kept] = std::move(listing.Names[i]);
            listing.Plain[kept] = listing.Plain[i];
        }
        ++kept;
    }
    listing.Names.resize(kept);
    listing.Plain.resize(kept);
}

void KeepNamed(const std::vector<std::string>& names, FolderListing& listing) {
    const std::unordered_set<std::string> wanted(names.begin(), names.end());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < listing.Names.size(); ++i) {
        if (!wanted.contains(listing.Names[i]))
            continue;
        if (kept != i) {
            listing.Names[kept] = std::move(listing.Names[i]);
            listing.Plain[kept] = listing.Plain[i];
        }
        ++kept;
    }
    listing.Names.resize(kept);
    listing.Plain.resize(kept);
}

} // namespace ferry
