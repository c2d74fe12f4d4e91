#include "core/pass_move.h"

#include "core/pass_match.h"
#include "platform/exclusive_open.h"
#include "platform/files.h"

namespace ferry {

namespace {

bool SameEntry(const std::string& a, const std::string& b, bool follow) {
    struct stat x, y;
    const auto look = follow ? stat : lstat;
    return look(a.c_str(), &x) == 0 && look(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

} // namespace

MoveStage::MoveStage(const TaskFolders& folders)
    : Folders_(folders), OneFolder_(SameEntry(folders.From, folders.To, true)) {}

MovesFinished MoveStage::Advance() {
    MovesFinished done;
    done.Returned = Batch_.Advance();
    done.StillUnfinished = Batch_.Unfinished();
    return done;
}

MovesFinished MoveStage::Finish() {
    MovesFinished done;
    done.Returned = Batch_.Finish();
    done.StillUnfinished = Batch_.Unfinished();
    return done;
}

MoveResult MoveStage::Move(const std::string& name, std::size_t index, bool plain,
                           MatchedFile& file, const ReadAgain& again) {
    const std::string from = Folders_.From + name;
    const std::string to = Folders_.To + name;
    MoveResult result;
    struct stat renamed {};
    std::size_t before = Batch_.Unfinished();
    MoveOutcome how =
        Batch_.Move(*file.File, from, to, &result.Code, &renamed, std::move(file.Copy));
    if (how == MoveOutcome::InUse && file.ReadAhead) {
        // Opened by someone since it was read ahead: nothing was done, and the file is read
        // and moved at its turn, as it would have been without reading ahead.
        if (!again(index, file)) {
            result.How = MoveResult::NoLongerMatches;
            return result;
        }
        before = Batch_.Unfinished();
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
        result.Unfinished = Batch_.Unfinished() > before;
        break;
    case MoveOutcome::NameTaken:
        // The file itself under its name there: never touched, and told apart.
        result.How = OneFolder_ || SameEntry(from, to, false) ? MoveResult::DestinationIsSource
                                                              : MoveResult::NameTaken;
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
