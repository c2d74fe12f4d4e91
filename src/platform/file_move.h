#pragma once

// Moving a file without ever replacing one or losing it: the single move (file_move.cpp), the
// moves of a pass in batches (move_batch.cpp), and the clean-up of what a killed move left
// (move_leftovers.cpp); the pieces they share are in move_parts.h.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct stat;

namespace ferry {

class ReadOnlyFile;

// How a move ended, for callers that tell the outcomes apart.
enum class MoveOutcome {
    Moved,     // the file is at the destination and no longer at the source
    NameTaken, // a file of that name is already at the destination; both stay (183)
    InUse,     // another process has the file open, or opened it meanwhile; it stays (32)
    Failed,    // any other failure; the file stays (the system error code says why)
};

// Moves a file without ever replacing one, and only while no other process has it open:
// a file in use stays where it is and the move fails with ERROR_SHARING_VIOLATION (32), as
// a file held open elsewhere would on Windows. On one file system this is a single
// no-replace rename. Across file systems the content is copied into an unnamed (or, where
// the file system cannot make one, a hidden temporary) file in the destination folder
// while no one else may open the source; should anyone open or change the source
// meanwhile, the copy is dropped and the source stays whole. The finished copy is synced,
// marked as our copy of that very source, linked under the final name without replacing,
// and only then is the source removed.
//
// Whenever the process dies, the file is whole at the source or at the destination. When
// it dies between linking the copy and removing the source, the next move of that source
// finds its own marked copy under the name and lets the source go, once the source is
// provably the file the copy was made from (its inode and birth) and byte for byte the copy.
// Any other file under the name is never touched, whatever its mark says, nor is a name that
// leads to the source itself (the same folder under another spelling): the name is taken.
//
// `error`, when given, receives the Windows system error code (0 on success, 2 source
// missing, 3 destination folder missing, 5 access denied, 32 in use, 183 name taken, ...).
MoveOutcome MoveFileChecked(const std::string& from, const std::string& to, int* error = nullptr);

// A copy of a file made ahead of its move across file systems: an unnamed file in the
// destination folder with the source's content, rights, times and mark, not synced yet.
// It vanishes when destroyed unused, or with the process.
struct PreparedCopy {
    PreparedCopy() = default;
    ~PreparedCopy();
    PreparedCopy(const PreparedCopy&) = delete;
    PreparedCopy& operator=(const PreparedCopy&) = delete;

    int Fd = -1;
    std::string Folder; // where it was made
    bool Marked = false;
    uint64_t Sequence = 0; // in the order of the batch's copies made ahead
};

// The moves of one routing pass, each made through the descriptor its scan read (its lease
// with it), and visible as it is made: the file is at the destination and gone from the
// source when Move returns. Across file systems what makes a move durable is shared by the
// moves of a batch: the copy is synced and linked and the source's name removed at once, but
// the source's content stays under a stash name until Finish has synced each destination
// folder once, waited one grace for opens of the old names under way, dropped the stashes of
// sources that nobody has opened or is opening (a fresh lease asked for at the last instant
// says so) and synced each source folder once; a writer that reaches a source only after its
// stash went, while we still hold it, has what it wrote given the source's name again. A full batch
// waits out its grace while the next one fills. No source content goes before its copy is durable;
// a kill leaves stashes that the next pass settles as it settles any killed move.
class MoveBatch {
public:
    // A batch is due when it holds this many moves, or its oldest is this old.
    static constexpr std::size_t MaxMoves = 64;
    static constexpr std::chrono::milliseconds MaxAge{200};

    MoveBatch();
    // Finishes what is pending (what Finish would return is lost).
    ~MoveBatch();
    MoveBatch(const MoveBatch&) = delete;
    MoveBatch& operator=(const MoveBatch&) = delete;

    // `renamed`, when given, receives the file as it is just after a move by a rename (the file
    // at `to` is then that very file, its change time the one the rename gave it), else st_ino 0.
    // `prepared`: what Prepare made of this file, or null. It stands for the file only while
    // nobody has opened the file since, which the lease tells; otherwise the move ends InUse
    // as always. One sync of the destination's file system makes every copy made ahead so far
    // durable at once, instead of one sync for each.
    MoveOutcome Move(ReadOnlyFile& file, const std::string& from, const std::string& to,
                     int* error = nullptr, struct stat* renamed = nullptr,
                     std::unique_ptr<PreparedCopy> prepared = nullptr);

    // For a thread reading ahead of the pass, while Move runs on the pass's own: copies a
    // file that is to be moved into `toFolder` (`file` opened ForMove, its lease held) into a
    // PreparedCopy. Null when the move is a rename (one file system) or the copy cannot be made.
    std::unique_ptr<PreparedCopy> Prepare(ReadOnlyFile& file, const std::string& toFolder);
    // Where the descriptor of a file that a Move has done with goes (with whether it holds a
    // lease, for CloseLeased): a pass may close them on a thread of its own, as long as it does
    // so promptly, since a lease still held keeps anyone opening the moved file waiting.
    // Unset, each is closed before Move returns.
    using Closer = std::function<void(int fd, bool lease)>;
    void CloseWith(Closer closer);

    // To be called between moves: finishes a batch whose grace is over, and starts the grace
    // of the filling one when it is due. Returns what Finish does, for the batch finished.
    std::vector<std::string> Advance();
    // Finishes all pending moves. Returns the sources that someone opened before they could
    // go: each has its name back (and its copy is taken back), so their moves ended InUse
    // after all.
    std::vector<std::string> Finish();

    // How many moves that returned Moved are not finished yet. They finish in the order they
    // were made, so a caller that counts them before and after Move, Advance and Finish knows
    // which are final.
    std::size_t Unfinished() const;

    struct State;

private:
    std::unique_ptr<State> State_;
};

// True when `path` is a temporary file of a cross-file-system move of ours (its name is
// ours and it carries our mark, or it is still empty).
bool IsMoveTemporary(const std::string& path);

// Settles what moves killed part-way left in `folder`, touching only files that
// IsMoveTemporary recognises and that no process has open (a move in progress in another
// running copy keeps its files open): a temporary copy is removed; a source kept under a
// stash name goes when its copy is whole and identical, and otherwise gets its name back.
// Returns how many files were removed.
int RemoveMoveLeftovers(const std::string& folder);

// The steps of a move, for tests that make one of them fail.
enum class MoveStep {
    Rename,
    OpenSource,
    CreateTemp,
    Copy,
    Sync,
    Link,
    RemoveSource,
    DropStash,
    Unmark,
    LetGo // the source, its last name gone, is about to be let go (asked only, never failed)
};

// Test seam. ForceCopy takes the cross-file-system path on one file system; NamedTemp skips
// the unnamed temporary file; Fail is asked before each step and returns an errno value to
// fail that step with, or 0 to let it run.
struct MoveSeam {
    bool ForceCopy = false;
    bool NamedTemp = false;
    std::function<int(MoveStep)> Fail;
};

// Installs a seam (nullptr removes it). Tests only; not thread-safe.
void SetMoveSeamForTesting(const MoveSeam* seam);

} // namespace ferry
