#pragma once

// The list stage of a routing pass: what is in a task's source folder.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace ferry {

// The mask the run pass lists source folders with: every file.
inline constexpr const char* AllFilesMask = "*.*";

// A task's folders as the pass uses them: each with one separator at its end.
struct TaskFolders {
    std::string From;
    std::string To;
};

// The files of a source folder in the order the folder lists them: regular files and links
// to them. Plain is false for a link, whose own identity a scan of its target does not see.
struct FolderListing {
    std::vector<std::string> Names;
    std::vector<bool> Plain;
};

// Keeps the files `keep(name)` says yes to, in their order, each with its Plain beside it.
template <class Keep> void KeepFiles(FolderListing& listing, Keep keep) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < listing.Names.size(); ++i) {
        if (!keep(listing.Names[i]))
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

// Settles first what killed moves left in both folders (a temporary copy in the destination, a
// stashed source here), then lists the source folder whole, before anything moves, so moving
// cannot disturb the listing. False when the source folder cannot be listed.
bool ListSourceFolder(const TaskFolders& folders, FolderListing& listing);

} // namespace ferry
