#include "core/move_back.h"

#include "base/exception.h"
#include "platform/file_move.h"
#include "platform/files.h"

#include <sys/stat.h>

namespace ferry {

namespace {

MoveBackResult Refuse(MoveBackRefusal why, std::string reason) {
    return {why, std::move(reason)};
}

} // namespace

MoveBackResult MoveBack(const FileOutcome& moved) {
    if (moved.Kind != OutcomeKind::Moved || moved.File.empty())
        return Refuse(MoveBackRefusal::Failed, "Only a file that was moved can be moved back.");
    const std::string from = IncludeTrailingSeparator(moved.DestinationFolder) + moved.File;
    const std::string to = IncludeTrailingSeparator(moved.SourceFolder) + moved.File;

    FileOutcome now;
    if (!ReadFileIdentity(from, now))
        return Refuse(MoveBackRefusal::Gone,
                      "The file is no longer in " + moved.DestinationFolder + ".");
    // Same name is not enough: a file put there since, or this one rewritten, is not what
    // the pass moved, and moving it would carry off something the user may want there.
    if (now.Device != moved.Device || now.Inode != moved.Inode || now.Size != moved.Size ||
        now.MTimeNs != moved.MTimeNs)
        return Refuse(MoveBackRefusal::Changed, "The file has changed since it was moved.");
    if (!FolderExists(IncludeTrailingSeparator(moved.SourceFolder)))
        return Refuse(MoveBackRefusal::SourceFolderMissing,
                      "The folder " + moved.SourceFolder + " no longer exists.");
    struct stat st;
    if (lstat(to.c_str(), &st) == 0)
        return Refuse(MoveBackRefusal::NameTaken,
                      "A file named " + moved.File + " is already in " + moved.SourceFolder + ".");

    // The pass's own move: never replaces, never loses the file, leaves a file in use alone.
    int code = 0;
    switch (MoveFileChecked(from, to, &code)) {
    case MoveOutcome::Moved:
        return {};
    case MoveOutcome::NameTaken:
        return Refuse(MoveBackRefusal::NameTaken,
                      "A file named " + moved.File + " is already in " + moved.SourceFolder + ".");
    case MoveOutcome::InUse:
        return Refuse(MoveBackRefusal::InUse,
                      "Another program has the file open; try again when it is closed.");
    case MoveOutcome::Failed:
        break;
    }
    return Refuse(MoveBackRefusal::Failed,
                  "The file could not be moved back: " + InOutErrorText(code) + ".");
}

} // namespace ferry
