#include "core/pass_list.h"

#include "platform/file_move.h"
#include "platform/files.h"

namespace ferry {

bool ListSourceFolder(const TaskFolders& folders, FolderListing& listing) {
    RemoveMoveLeftovers(folders.From);
    if (FolderExists(folders.To))
        RemoveMoveLeftovers(folders.To);
    return ListFiles(folders.From, AllFilesMask, listing.Names, listing.Plain);
}

} // namespace ferry
