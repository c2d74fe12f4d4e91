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
    const std::string& file = moved.File;
    const std::string& there = moved.DestinationFolder;

    FileOutcome now;
    if (!ReadFileIdentity(from, now))
        return Refuse(MoveBackRefusal::Gone,
                      file + " is no longer in " + there +
                          ", so it cannot be moved back. It was moved, renamed or deleted since "
                          "the pass moved it there.");
    // Same name is not enough: a file put there since, or this one rewritten, is not what
    // the pass moved, and moving it would carry off something the user may want there. The
    // change time catches an edit whose modification time was put back; it is compared only
    // where the history knows it.
    if (now.Device != moved.Device || now.Inode != moved.Inode || now.Size != moved.Size ||
        now.MTimeNs != moved.MTimeNs || (moved.CTimeNs != 0 && now.CTimeNs != moved.CTimeNs))
        return Refuse(MoveBackRefusal::Changed,
                      file + " in " + there +
                          " has changed since it was moved, so it stays there. If you still "
                          "want it in " +
                          moved.SourceFolder + ", move it there yourself.");
    if (!FolderExists(IncludeTrailingSeparator(moved.SourceFolder)))
        return Refuse(MoveBackRefusal::SourceFolderMissing,
                      "The folder " + moved.SourceFolder + " no longer exists, so " + file +
                          " stays in " + there + ". Create the folder again, then try again.");
    const std::string nameTaken = "A file named " + file + " is already in " + moved.SourceFolder +
                                  ", so " + file + " stays in " + there +
                                  ". Rename or move one of them, then try again.";
    struct stat st;
    if (lstat(to.c_str(), &st) == 0)
        return Refuse(MoveBackRefusal::NameTaken, nameTaken);

    // The pass's own move: never replaces, never loses the file, leaves a file in use alone.
    int code = 0;
    switch (MoveFileChecked(from, to, &code)) {
    case MoveOutcome::Moved:
        return {};
    case MoveOutcome::NameTaken:
        return Refuse(MoveBackRefusal::NameTaken, nameTaken);
    case MoveOutcome::InUse:
        return Refuse(MoveBackRefusal::InUse, file +
                                                  " is open in another program, so it stays in " +
                                                  there + ". Close it there, then try again.");
    case MoveOutcome::Failed:
        break;
    }
    return Refuse(MoveBackRefusal::Failed, file + " could not be moved back to " +
                                               moved.SourceFolder + ": " + InOutErrorText(code) +
                                               ". It stays in " + there + ".");
}

} // namespace ferry
