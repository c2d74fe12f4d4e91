#pragma once

// What became of one file in a routing pass, and the one-line summary of a pass.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct stat;

namespace ferry {

// How one matching file ended in a pass. Beside the move listener, which hears only that a
// move was attempted, a pass tells these to whoever keeps the history.
enum class OutcomeKind : int {
    Moved = 0,              // at the destination now
    NameTaken = 1,          // left: a file of that name is at the destination
    InUse = 2,              // left: another program has it open
    DestinationMissing = 3, // left: the destination folder does not exist
    MoveFailed = 4,         // left: the move failed for another reason (ErrorCode, Detail)
    PassError = 5,          // the error that ended the pass (Detail as shown to the user)
    // left: its name at the destination leads to the file itself (the task's two folders are
    // one), so it is never touched
    DestinationIsSource = 6,
    // left: a task looks inside documents and this one's text could not be read (Detail says
    // why); told once for each version of the file
    TextUnreadable = 7,
    // not a file's fate: the notification about it (or about the pass, File empty) could not
    // be sent (Detail: why)
    MailNotSent = 8,
};

// The words an outcome is shown with: "moved", "left (name taken)", "left (in use)",
// "left (destination missing)", "left (move failed)", "error", "left (destination is source)",
// "text could not be read", "mail not sent".
const char* OutcomeKindText(OutcomeKind kind);

// Texts are in the program's code page, as every text the task rows hold.
struct FileOutcome {
    int64_t TimeMs = 0;            // wall clock, milliseconds since 1970
    std::string Task;              // the task's name
    std::string SourceFolder;      // the row's source folder, as stored
    std::string DestinationFolder; // the row's destination folder, as stored
    std::string File;              // the file's name without its folder; may be empty for a
                                   // PassError not tied to a file
    OutcomeKind Kind = OutcomeKind::Moved;
    int64_t Size = -1; // bytes, for Moved; -1 otherwise
    int ErrorCode = 0; // the system error code where one applies
    // PassError: the error's text; MoveFailed: the system's message; TextUnreadable: why;
    // Moved by a task with conditions: what matched, where ("words: invoice, acme").
    std::string Detail;
    // Who the moved file is at its destination, for Move back (Moved only).
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t MTimeNs = 0;
    // The change time, which no user can set: an edit whose modification time was put back
    // still shows here. The move itself changes it until it is complete, so it counts once
    // RefreshChangeTime has read it after the pass — unless a rename completed the move and
    // it was read right after (ChangeTimeFinal). 0 when not known (older histories).
    int64_t CTimeNs = 0;
    bool ChangeTimeFinal = false;
};

// Receives each outcome on the thread the pass runs on, as it happens.
using OutcomeReporter = std::function<void(const FileOutcome&)>;

// One line per pass: per task in the order the pass met them, its counts.
struct PassSummary {
    struct TaskCounts {
        std::string Task;
        int Moved = 0;
        int NameTaken = 0;
        int InUse = 0;
        int DestinationMissing = 0;
        int MoveFailed = 0;
        int DestinationIsSource = 0;
        int TextUnreadable = 0;
        bool Error = false;
    };
    std::vector<TaskCounts> Tasks;

    // Adds one outcome to its task's counts (a task met for the first time goes last).
    void Count(const FileOutcome& outcome);
    // No outcome at all: no notification is shown for such a pass.
    bool Empty() const;
    // "Invoices: 3 files moved; Delivery notes: 1 left (name taken)"; "1 file moved" in the
    // singular; several reasons of one task joined with ", ".
    std::string Text() const;
};

PassSummary Summarise(const std::vector<FileOutcome>& outcomes);

// Fills Size, Device, Inode, MTimeNs and CTimeNs from what is at `path` now (the entry itself, so a
// link is known by the link; the size is its target's); false when nothing is there.
bool ReadFileIdentity(const std::string& path, FileOutcome& outcome);

// For a Moved outcome once the pass is over (a rename changed the change time, and a move
// across file systems takes its mark off the copy only at the end of its batch): the change
// time the file has at its destination now, if it is still the file that was moved.
void RefreshChangeTime(FileOutcome& moved);

// The wall clock as outcomes and passes carry it: milliseconds since 1970.
int64_t WallClockMs();
// The same from what is already known of a file (not a link).
void SetFileIdentity(const struct stat& file, FileOutcome& outcome);

} // namespace ferry
