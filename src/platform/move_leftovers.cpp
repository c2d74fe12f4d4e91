#include "platform/file_move.h"

#include "platform/copy_mark.h"
#include "platform/exclusive_open.h"
#include "platform/files.h"
#include "platform/move_parts.h"

#include <dirent.h>
#include <sys/xattr.h>

namespace ferry {

using namespace moves;

bool IsMoveTemporary(const std::string& path) {
    if (!HasTempName(NameOf(path)))
        return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return st.st_size == 0 || lgetxattr(path.c_str(), TempMark, nullptr, 0) >= 0;
}

int RemoveMoveLeftovers(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return 0;
    std::vector<std::string> candidates;
    while (const dirent* entry = readdir(dir)) {
        if (HasTempName(entry->d_name))
            candidates.push_back(IncludeTrailingSeparator(folder) + entry->d_name);
    }
    closedir(dir);
    int removed = 0;
    for (const std::string& path : candidates) {
        if (!IsMoveTemporary(path))
            continue;
        // A move in progress (in another running copy) has its temporary open.
        ExclusiveOpen temp;
        if (temp.Open(path) != ERROR_SUCCESS || !temp.Names(path))
            continue;
        char value[4096];
        const ssize_t size = fgetxattr(temp.Fd(), TempMark, value, sizeof value - 1);
        const std::string mark = size > 0 ? std::string(value, static_cast<std::size_t>(size)) : "";
        const std::size_t stashPrefix = sizeof StashValuePrefix - 1;
        if (temp.Stat().st_nlink > 1 || mark.compare(0, stashPrefix, StashValuePrefix) != 0) {
            // A temporary, or a second name of a file that has its own.
            if (unlink(path.c_str()) == 0)
                ++removed;
            if (temp.Stat().st_nlink > 1)
                fremovexattr(temp.Fd(), TempMark);
            continue;
        }
        // A stashed source whose move was cut short: it goes when the copy its mark names is
        // byte for byte the same (the copy's own mark goes first), else it gets its name back.
        const std::string copyPath = mark.substr(stashPrefix);
        const int copy = open(copyPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        struct stat copied;
        uint64_t hash = 0;
        if (copy >= 0 && fstat(copy, &copied) == 0 && S_ISREG(copied.st_mode) &&
            copied.st_size == temp.Stat().st_size &&
            SameContent(copy, temp.Fd(), copied.st_size, hash)) {
            CopyMark copyMark;
            if (ReadMark(copyPath, copyMark) && copyMark.Names(temp.Stat()))
                fremovexattr(copy, MoveMark);
            close(copy);
            if (unlink(path.c_str()) == 0)
                ++removed;
            continue;
        }
        if (copy >= 0)
            close(copy);
        const std::string name = IncludeTrailingSeparator(folder) + NameOf(copyPath);
        renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
        fremovexattr(temp.Fd(), TempMark);
    }
    if (removed > 0)
        SyncFolder(folder);
    return removed;
}

} // namespace ferry
