#pragma once

// How the watch's state reads to a user: the Activity window's line and tip, and the lines
// ferrydesk --headless writes when a folder's state changes.

#include <string>
#include <vector>

#include "platform/folder_watch.h"

namespace ferry {

// "Watching 2 folders", with ", 1 at the interval only" when some cannot be watched and
// ", 1 not found" for folders that do not exist (yet).
std::string WatchSummary(const std::vector<FolderWatchStatus>& statuses);

// One folder's state: "/srv/scans: watched", "/mnt/nas: on a shared file system (nfs),
// passed at the interval only", ...
std::string WatchStateText(const FolderWatchStatus& status);

} // namespace ferry
