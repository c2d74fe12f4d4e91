#pragma once

// The move stage of a routing pass: a file found to match goes into the destination folder,
// never replacing a file there and never lost on the way (platform/file_move.h). The moves of
// one task share a batch, so that moves across file systems share their syncs; such a move is
// final only once its batch has finished it.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "core/pass_list.h"
#include "platform/file_move.h"

namespace ferry {

struct MatchedFile;

struct MoveResult {
    enum Kind {
        Moved,
        NameTaken,           // a file of that name is at the destination
        DestinationIsSource, // the name at the destination leads to the file itself
        InUse,               // another program has the file open
        Failed,              // for another reason (Code)
        DestinationMissing,  // no folder to move into: nothing was attempted
        NoLongerMatches,     // changed since it was read ahead, and no longer holds the match
    };
    Kind How = Moved;
    int Code = 0; // the system error code of a move that failed
    // The file just after the move, when a rename moved that very file (not a link).
    std::optional<struct stat> Renamed;
    // Moved across file systems, and not final until the batch finishes it.
    bool Unfinished = false;
};

// What the batch finished since it was last asked.
struct MovesFinished {
    // The sources someone opened before they could go: back in the source folder, in use.
    std::vector<std::string> Returned;
    std::size_t StillUnfinished = 0; // moves that ended Moved and are not final yet
};

class MoveStage {
public:
    explicit MoveStage(const TaskFolders& folders);

    MoveBatch& Batch() { return Batch_; }

    // Reads file `index` again into `file`: false when it no longer matches.
    using ReadAgain = std::function<bool(std::size_t index, MatchedFile& file)>;

    // Moves `file`, listed as `name` (`plain`: not a link), into the destination. A file read
    // ahead that someone opened since is read again through `again` and moved as it is now.
    MoveResult Move(const std::string& name, std::size_t index, bool plain, MatchedFile& file,
                    const ReadAgain& again);

    // Between two files, and at the end of the task.
    MovesFinished Advance();
    MovesFinished Finish();

private:
    const TaskFolders& Folders_;
    // The two folders are one under two spellings (a link to it, "/./"): every name there is
    // taken by the file itself.
    const bool OneFolder_;
    MoveBatch Batch_;
};

} // namespace ferry
