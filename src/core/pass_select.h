#pragma once

// The select stage of a routing pass: which of the listed files the task considers at all,
// before any of them is read.

#include <string>
#include <vector>

#include "core/pass_list.h"
#include "core/task_table.h"

namespace ferry {

// Keeps, in their order, the files of `listing` (in the folder `from`) that `task` considers:
// every one but the temporaries and stashes of a move in progress, which are not the user's
// files; none when the task has no match string, which no file could contain.
void SelectFiles(const TaskRecord& task, const std::string& from, FolderListing& listing);
// The first half of that: every file but the temporaries and stashes of a move in progress.
void DropMoveTemporaries(const std::string& from, FolderListing& listing);

// Keeps, in their order, only the files of `listing` named in `names`: the listing is still
// taken whole, so that what killed moves left behind is settled as in any pass.
void KeepNamed(const std::vector<std::string>& names, FolderListing& listing);

} // namespace ferry
