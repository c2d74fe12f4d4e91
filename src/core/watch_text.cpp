#include "core/watch_text.h"

#include <cstring>

namespace ferry {

namespace {

std::string Folders(int n) {
    return std::to_string(n) + (n == 1 ? " folder" : " folders");
}

} // namespace

std::string WatchSummary(const std::vector<FolderWatchStatus>& statuses) {
    int watched = 0, missing = 0, timerOnly = 0;
    for (const FolderWatchStatus& s : statuses) {
        if (s.State == FolderWatchState::Watched)
            ++watched;
        else if (s.State == FolderWatchState::Missing)
            ++missing;
        else
            ++timerOnly;
    }
    std::string text = "Watching " + Folders(watched);
    if (timerOnly > 0)
        text += ", " + std::to_string(timerOnly) + " at the interval only";
    if (missing > 0)
        text += ", " + std::to_string(missing) + " not found";
    return text;
}

std::string WatchStateText(const FolderWatchStatus& status) {
    const std::string interval = ", passed at the interval only";
    std::string text = status.Folder + ": ";
    switch (status.State) {
    case FolderWatchState::Watched:
        return text + "watched";
    case FolderWatchState::Missing:
        return text + "not found; watched once it exists";
    case FolderWatchState::Shared:
        return text + "on a shared file system (" + status.FileSystem +
               ") whose changes may come from other machines" + interval;
    case FolderWatchState::LimitReached:
        return text + "the system's limit on watched folders is reached" + interval;
    case FolderWatchState::Failed:
        return text + "cannot be watched (" + std::strerror(status.Error) + ")" + interval;
    }
    return text;
}

} // namespace ferry
