#include "core/pass_move.h"

#include "core/pass_match.h"
#include "platform/exclusive_open.h"
#include "platform/files.h"

namespace ferry {

MoveResult MoveStage::Move(const std::string& name, std::size_t index, bool plain,
                           MatchedFile& file, ContentMatch& match) {
    const std::string from = Folders_.From + name;
    const std::string to = Folders_.To + name;
    MoveResult result;
    struct stat renamed {};
    MoveOutcome how =
        Batch_.Move(*file.File, from, to, &result.Code, &renamed, std::move(file.Copy));
    if (how == MoveOutcome::InUse && file.ReadAhead) {
        // Opened by someone since it was read ahead: nothing was done, and the file is read
        // and moved at its turn, as it would have been without reading ahead.
        if (!match.Again(index, file)) {
            result.How = MoveResult::NoLongerMatches;
            return result;
        }
        how = Batch_.Move(*file.File, from, to, &result.Code, &renamed);
    }
    // The rename itself makes sure the folder is there; it is looked at only when the file
    // stayed, since a missing folder means no attempt at all.
    if ((how == MoveOutcome::InUse || how == MoveOutcome::Failed) && !FolderExists(Folders_.To)) {
        result.How = MoveResult::DestinationMissing;
        return result;
    }
    switch (how) {
    case MoveOutcome::Moved:
        result.How = MoveResult::Moved;
        if (renamed.st_ino != 0 && plain)
            result.Renamed = renamed;
        break;
    case MoveOutcome::NameTaken:
        result.How = MoveResult::NameTaken;
        break;
    case MoveOutcome::InUse:
        result.How = MoveResult::InUse;
        break;
    case MoveOutcome::Failed:
        result.How = MoveResult::Failed;
        break;
    }
    return result;
}

} // namespace ferry
