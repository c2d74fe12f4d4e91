#include "platform/file_move.h"

#include "platform/copy_mark.h"
#include "platform/exclusive_open.h"
#include "platform/files.h"
#include "platform/move_parts.h"

#include <cerrno>
#include <ctime>
#include <sys/xattr.h>

namespace ferry {
namespace moves {

// Gives the held source a second, hidden name in its folder, marked with where its copy
// went; "" when that cannot be done (no hard links, no user attributes).
static std::string StashSource(const ExclusiveOpen& source, const std::string& from,
                               const std::string& to) {
    // A link to the file is not stashed: a second name for the link would not be the file's.
    struct stat named;
    if (lstat(from.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return "";
    const std::string value = StashValuePrefix + to;
    if (fsetxattr(source.Fd(), TempMark, value.data(), value.size(), 0) != 0)
        return "";
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::string stash =
            IncludeTrailingSeparator(FolderOf(from)) + TempPrefix + RandomSuffix();
        if (link(from.c_str(), stash.c_str()) == 0)
            return stash;
        if (errno != EEXIST)
            break;
    }
    fremovexattr(source.Fd(), TempMark);
    return "";
}

// Long enough for an open that has looked up the name to reach the lease.
static void SleepForOpensUnderWay() {
    const timespec grace{0, 5 * 1000 * 1000};
    nanosleep(&grace, nullptr);
}

// True when the name now leads to another file than the one held: someone saved a new file
// under it (as editors do, by renaming over it) while the held one was copied. That file is
// not ours to remove; the held one, copied whole, has no name here any more. A link is left
// to the checks that follow: the scan saw its target, not the link.
static bool NameTakenByAnother(const ExclusiveOpen& source, const std::string& from) {
    struct stat named;
    return lstat(from.c_str(), &named) == 0 && S_ISREG(named.st_mode) &&
           !SameFile(named, source.Stat());
}

// Takes our mark off a copy whose source is about to go: from then on it is the user's file.
// Before the source's last name goes, so that a kill in between leaves a stash beside an
// identical unmarked copy (which the next pass drops), never a mark outliving its move.
void Unmark(int copy) {
    if (copy >= 0 && !Injected(MoveStep::Unmark))
        fremovexattr(copy, MoveMark);
}

// Gives a stashed source its name back, no replace. Should a new file have taken the name
// meanwhile, ours stays under the stash name, unmarked, as the user's file.
static bool Unstash(ExclusiveOpen& source, const std::string& from, const std::string& stash) {
    const bool back =
        renameat2(AT_FDCWD, stash.c_str(), AT_FDCWD, from.c_str(), RENAME_NOREPLACE) == 0;
    fremovexattr(source.Fd(), TempMark);
    return back;
}

StashEnd DropStash(ExclusiveOpen& source, const std::string& from, const std::string& stash,
                   int copy, int& err) {
    err = 0;
    // Before the copy's mark goes, so that a copy that cannot be taken back keeps it.
    if (!source.Untouched(false))
        return Unstash(source, from, stash) ? StashEnd::Returned : StashEnd::Kept;
    Unmark(copy);
    if ((err = Injected(MoveStep::DropStash)) != 0)
        return StashEnd::Kept;
    // Asked again at the last instant: a grace only makes a late open less likely; this tells.
    if (!source.Untouched(true))
        return Unstash(source, from, stash) ? StashEnd::Returned : StashEnd::Kept;
    if (unlink(stash.c_str()) != 0) {
        err = errno;
        return StashEnd::Kept;
    }
    source.Refresh();
    return StashEnd::Dropped;
}

LateOpen RecoverLateOpen(ExclusiveOpen& source, const std::string& from, const std::string& to,
                         int copy) {
    Injected(MoveStep::LetGo);
    if (source.Untouched(false))
        return LateOpen::None;
    // A writer that keeps the file open longer than this: what it writes after is lost. We
    // cannot hold the pass for it, and it has no name by which anyone could find it.
    constexpr int LateWriterWaitMs = 2000;
    source.WaitAlone(LateWriterWaitMs);
    struct stat now, copied;
    uint64_t hash = 0;
    if (fstat(source.Fd(), &now) != 0 ||
        (copy >= 0 && fstat(copy, &copied) == 0 && copied.st_size == now.st_size &&
         SameContent(source.Fd(), copy, now.st_size, hash)))
        return LateOpen::None; // a reader, or a writer that changed nothing: the copy is whole
    // Should the writer still be at it, a copy that finds the file longer than it was is
    // made again, a few times, and what it then holds is kept.
    TempCopy back;
    bool marked = false;
    const std::string folder = FolderOf(from);
    Result made = Busy();
    for (int attempt = 0; attempt < 5 && made.Outcome == MoveOutcome::InUse; ++attempt) {
        back.Discard();
        if (attempt > 0 && fstat(source.Fd(), &now) != 0)
            break;
        made = MakeCopy(
            source.Fd(), now, [] { return true; }, folder, back, marked);
    }
    if (made.Outcome != MoveOutcome::Moved || fsync(back.Fd) != 0)
        return LateOpen::None;
    fremovexattr(back.Fd, MoveMark);
    LateOpen result = LateOpen::None;
    if (back.LinkAs(from) == 0) {
        fremovexattr(back.Fd, TempMark);
        result = LateOpen::Named;
    } else {
        // The name is taken: kept as a stash of a move to `to` whose copy differs, which the
        // next pass over the folder gives a name again.
        const std::string value = StashValuePrefix + to;
        fsetxattr(back.Fd, TempMark, value.data(), value.size(), 0);
        for (int attempt = 0; attempt < 20 && result == LateOpen::None; ++attempt)
            if (back.LinkAs(IncludeTrailingSeparator(folder) + TempPrefix + RandomSuffix()) == 0)
                result = LateOpen::Stashed;
    }
    SyncFolder(folder);
    return result;
}

// Removes the held source once its copy is in place. Its name goes first, while the file
// is kept under a stash name for a moment: an open of the old name already on its way (past
// the name, not yet at the lease) would otherwise reach a file that no name leads to any
// more, and what it wrote would be lost. Such an open breaks the lease within the grace; the
// file then gets its name back and the result is InUse. One later than that is caught as the
// stash goes, or after, while we still hold the file (see RecoverLateOpen). `stashable` is
// false where the copy carries no mark, so that a stash could not be settled after a kill.
// `copy`, when given, is the copy's descriptor, whose mark goes with the source.
static Result ReleaseSource(ExclusiveOpen& source, const std::string& from, const std::string& to,
                            bool stashable, int copy = -1) {
    if (NameTakenByAnother(source, from)) {
        Unmark(copy);
        return Done();
    }
    std::string stash;
    int err = Injected(MoveStep::RemoveSource);
    if (!err && stashable)
        stash = StashSource(source, from, to);
    if (!err && unlink(from.c_str()) != 0)
        err = errno;
    if (err) {
        if (!stash.empty()) {
            unlink(stash.c_str());
            fremovexattr(source.Fd(), TempMark);
        }
        return FailErrno(err);
    }
    if (stash.empty()) {
        Unmark(copy);
        source.Refresh();
    } else {
        source.Refresh();
        SleepForOpensUnderWay();
        switch (DropStash(source, from, stash, copy, err)) {
        case StashEnd::Returned:
            // Opened after all: the file returns to its name, whole. The caller takes the
            // copy back once the source has its name again.
            SyncFolder(FolderOf(from));
            return Busy();
        case StashEnd::Kept: {
            // The copy is whole; the stash is settled by the next pass over this folder.
            Result result = err ? FailErrno(err) : Busy();
            result.SourceGone = true;
            return result;
        }
        case StashEnd::Dropped:
            break;
        }
    }
    SyncFolder(FolderOf(from));
    switch (RecoverLateOpen(source, from, to, copy)) {
    case LateOpen::None:
        return Done();
    case LateOpen::Named: {
        Result result = Busy();
        result.Restored = true;
        return result;
    }
    case LateOpen::Stashed:
        break;
    }
    Result result = Busy();
    result.SourceGone = true;
    return result;
}

// Takes a copy of ours out of `to` again when its source has kept its name after all, so
// that the file is in one place: only while `to` still names that copy and nobody else has
// it open (a lease, which our own descriptor would refuse, so `fd` is closed first).
// Otherwise it stays, marked, and a later move of the source settles it.
void TakeBackCopy(int& fd, const std::string& to) {
    struct stat mine;
    const bool known = fd >= 0 && fstat(fd, &mine) == 0;
    if (fd >= 0)
        close(fd);
    fd = -1;
    ExclusiveOpen copy;
    if (!known || copy.Open(to) != ERROR_SUCCESS || !SameFile(copy.Stat(), mine))
        return;
    if (unlink(to.c_str()) == 0)
        SyncFolder(FolderOf(to));
}

// The first half of ReleaseSource: the source's name goes, its content stays under a stash
// name until the copy's name is durable. Moved with `stash` set; Moved with `stash` empty
// when no stash can be made here (the caller then releases the source at once, as a single
// move does); or the failure, with the source's name in place.
static Result HideSource(ExclusiveOpen& source, const std::string& from, const std::string& to,
                         std::string& stash, bool& replaced) {
    replaced = false;
    if (const int err = Injected(MoveStep::RemoveSource))
        return FailErrno(err);
    // As StashSource, but the name moves to the stash in one step instead of a second name
    // made and the first removed: a folder operation fewer per file.
    struct stat named;
    if (lstat(from.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return Done();
    if (!SameFile(named, source.Stat())) {
        replaced = true; // as in NameTakenByAnother
        return Done();
    }
    const std::string value = StashValuePrefix + to;
    if (fsetxattr(source.Fd(), TempMark, value.data(), value.size(), 0) != 0)
        return Done();
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::string candidate =
            IncludeTrailingSeparator(FolderOf(from)) + TempPrefix + RandomSuffix();
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) {
            stash = candidate;
            source.Refresh();
            return Done();
        }
        if (errno != EEXIST)
            break;
    }
    // Left to the plain way, which tells what is wrong.
    fremovexattr(source.Fd(), TempMark);
    return Done();
}

// `defer`, when given, takes the last steps of the move (syncing the destination folder,
// the grace, dropping the source) for a batch to do together.
//
// `prepared`, when given, is a copy of this source made ahead by MoveBatch::Prepare; it is
// used when it was made in the destination folder.
static Result CopyAcross(ExclusiveOpen& source, const std::string& from, const std::string& to,
                         Deferred* defer = nullptr, PreparedCopy* prepared = nullptr) {
    const struct stat st = source.Stat();
    // Refuse early what would fail at the end, before copying a large file for nothing.
    const std::string destFolder = FolderOf(to);
    if (Exists(to))
        return Taken();
    PassCache* cache = defer ? defer->Cache : nullptr;
    const std::string sourceFolder = FolderOf(from);
    if (!cache || cache->WritableSource != sourceFolder) {
        if (access(sourceFolder.c_str(), W_OK | X_OK) != 0)
            return FailErrno(errno);
        if (cache)
            cache->WritableSource = sourceFolder;
    }

    TempCopy temp;
    bool marked = false;
    bool durable = false;
    if (prepared && prepared->Fd >= 0 && prepared->Folder == destFolder) {
        // Made ahead from this very descriptor, which nobody has opened since (the lease).
        temp.Fd = prepared->Fd;
        prepared->Fd = -1;
        marked = prepared->Marked;
        durable = cache && prepared->Sequence <= cache->Durable;
        if (!durable && cache && !Injected(MoveStep::Sync)) {
            // One sync of the file system serves every copy made ahead so far.
            const uint64_t finished = cache->Prepared.load();
            if (syncfs(temp.Fd) == 0) {
                cache->Durable = finished;
                durable = true;
            }
        }
    } else {
        const Result made = MakeCopy(
            source.Fd(), st, [&] { return source.Alone(false); }, destFolder, temp, marked);
        if (made.Outcome != MoveOutcome::Moved)
            return made;
    }

    int err = durable ? 0 : Injected(MoveStep::Sync);
    if (!err && !durable && fsync(temp.Fd) != 0)
        err = errno;
    if (err)
        return FailErrno(err);
    if (!source.Alone(true))
        return Busy();

    if ((err = temp.LinkAs(to)) != 0) {
        if (err == EEXIST)
            return Taken();
        return err == ENOENT ? Fail(ERROR_PATH_NOT_FOUND) : FailErrno(err);
    }
    // A batch syncs the folder once for all its copies, before any source goes.
    const bool batched = defer && marked;
    if (!batched)
        SyncFolder(destFolder);

    // Someone opened the source since it was copied: it must not go now, and the copy goes
    // again, so that the file stays in one place.
    if (!source.Alone(true)) {
        TakeBackCopy(temp.Fd, to);
        return Busy();
    }
    if (batched) {
        std::string stash;
        bool replaced = false;
        const Result hidden = HideSource(source, from, to, stash, replaced);
        if (hidden.Outcome != MoveOutcome::Moved) {
            if (temp.IsAt(to))
                unlink(to.c_str()); // never made durable: nothing to sync
            return hidden;
        }
        if (replaced) {
            SyncFolder(destFolder);
            Unmark(temp.Fd);
            return Done();
        }
        if (!stash.empty()) {
            defer->From = from;
            defer->To = to;
            defer->Stash = stash;
            defer->Copy = temp.Release();
            return Done();
        }
        SyncFolder(destFolder); // no stash here: the source goes now, after its copy is durable
    }
    const Result released = ReleaseSource(source, from, to, marked, marked ? temp.Fd : -1);
    // The source could not go, or was opened and has its name back: the file exists once.
    if ((released.Outcome == MoveOutcome::Failed && !released.SourceGone) ||
        (released.Outcome == MoveOutcome::InUse && (source.Names(from) || released.Restored)))
        TakeBackCopy(temp.Fd, to);
    return released;
}

// A rename on one file system; Failed with ERROR_NOT_SAME_DEVICE when it has to copy.
static Result RenameHeld(const std::string& from, const std::string& to) {
    int err = Injected(MoveStep::Rename);
    if (!err && renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return Done();
    if (!err)
        err = errno;
    if (err == EEXIST)
        return Taken();
    if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
        // A file system without the no-replace rename: a hard link never replaces either.
        if (link(from.c_str(), to.c_str()) != 0)
            return errno == EEXIST ? Taken() : Fail(MoveErrorCode(errno, from));
        if (unlink(from.c_str()) != 0) {
            const int unlinkErr = errno;
            unlink(to.c_str());
            return FailErrno(unlinkErr);
        }
        return Done();
    }
    if (err == EXDEV)
        return Fail(ERROR_NOT_SAME_DEVICE);
    return Fail(MoveErrorCode(err, from));
}

enum class Settled { SourceGone, NameFree, Taken, InUse, Failed };

// The name is taken at the destination. What is there may be our own copy of this very
// source, left by a move cut short by the end of an earlier process; the source then goes.
// Only what is provably that is settled: a copy marked as made from this inode of this birth
// and size, still what we wrote, and byte for byte the source. Anything else stays, and so
// does the source.
static Settled SettleTaken(ExclusiveOpen& source, const std::string& from, const std::string& to,
                           int& code) {
    struct stat there;
    if (lstat(to.c_str(), &there) != 0)
        return Settled::NameFree; // gone meanwhile
    // The destination name leads to the source itself (its own folder under another spelling
    // or through a link, or a second name of the file): it is never touched.
    if (SameFile(there, source.Stat()))
        return Settled::Taken;
    CopyMark mark;
    if (!S_ISREG(there.st_mode) || !ReadMark(to, mark) || !mark.Names(source.Stat()))
        return Settled::Taken;
    int copy = open(to.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (copy < 0)
        return errno == EWOULDBLOCK ? Settled::InUse : Settled::Taken;
    const CopyMark now = CopyMark::Of(source.Fd(), source.Stat(), 0);
    struct stat opened;
    Settled settled = Settled::Taken;
    uint64_t hash = 0;
    if (fstat(copy, &opened) != 0 || !SameFile(opened, there)) {
        // replaced meanwhile: not the file we looked at
    } else if (mark.Outlived(now)) {
        // The mark names a file that is gone, whose inode number this one was given: the move
        // it was made for is over, and the copy is the user's.
        fremovexattr(copy, MoveMark);
    } else if (mark.IsOf(now) && opened.st_size == mark.Size &&
               SameContent(copy, source.Fd(), mark.Size, hash) && hash == mark.Hash) {
        if (!source.Alone(true) || !source.Names(from)) {
            settled = Settled::InUse;
        } else {
            const Result released = ReleaseSource(source, from, to, true, copy);
            code = released.Code;
            settled = released.Outcome == MoveOutcome::Moved   ? Settled::SourceGone
                      : released.Outcome == MoveOutcome::InUse ? Settled::InUse
                                                               : Settled::Failed;
            if (released.Outcome == MoveOutcome::InUse && (source.Names(from) || released.Restored))
                TakeBackCopy(copy, to);
        }
    }
    if (copy >= 0)
        close(copy);
    return settled;
}

static Result MoveHeld(ExclusiveOpen& source, const std::string& from, const std::string& to,
                       Deferred* defer = nullptr, PreparedCopy* prepared = nullptr) {
    for (int attempt = 0;; ++attempt) {
        Result result = Fail(ERROR_NOT_SAME_DEVICE);
        PassCache* cache = defer ? defer->Cache : nullptr;
        // A copy made ahead was made because the move crosses file systems; it serves once.
        const bool across =
            (prepared && attempt == 0) ||
            (cache && !cache->AcrossFolder.empty() && cache->AcrossDevice == source.Stat().st_dev &&
             cache->AcrossFolder == FolderOf(to));
        if (!(Seam() && Seam()->ForceCopy) && !across) {
            result = RenameHeld(from, to);
            result.Renamed = result.Outcome == MoveOutcome::Moved;
            if (cache && result.Outcome == MoveOutcome::Failed &&
                result.Code == ERROR_NOT_SAME_DEVICE) {
                cache->AcrossDevice = source.Stat().st_dev;
                cache->AcrossFolder = FolderOf(to);
            }
        }
        if (result.Outcome == MoveOutcome::Failed && result.Code == ERROR_NOT_SAME_DEVICE)
            result = CopyAcross(source, from, to, defer, attempt == 0 ? prepared : nullptr);
        if (result.Outcome != MoveOutcome::NameTaken || attempt > 0)
            return result;
        int settleCode = ERROR_GEN_FAILURE;
        switch (SettleTaken(source, from, to, settleCode)) {
        case Settled::SourceGone:
            return Done();
        case Settled::NameFree:
            continue; // move afresh, once
        case Settled::Taken:
            return result;
        case Settled::InUse:
            return Busy();
        case Settled::Failed:
            return Fail(settleCode);
        }
    }
}

static Result Move(const std::string& from, const std::string& to) {
    if (from.empty())
        return Fail(ERROR_FILE_NOT_FOUND);
    if (to.empty())
        return Fail(ERROR_PATH_NOT_FOUND);
    if (const int err = Injected(MoveStep::OpenSource))
        return FailErrno(err);
    // Our own descriptor is the only one allowed; the content scan's is closed by now.
    ExclusiveOpen source;
    const int code = source.Open(from);
    if (code == ERROR_SHARING_VIOLATION)
        return Busy();
    if (code != ERROR_SUCCESS)
        return Fail(code);
    return MoveHeld(source, from, to);
}

Result MoveScanned(ReadOnlyFile& file, const std::string& from, const std::string& to,
                   ExclusiveOpen& source, Deferred* defer, PreparedCopy* prepared) {
    const int code = source.Adopt(file, from);
    if (to.empty())
        return Fail(ERROR_PATH_NOT_FOUND);
    if (const int err = Injected(MoveStep::OpenSource))
        return FailErrno(err);
    if (code == ERROR_SHARING_VIOLATION)
        return Busy();
    if (code != ERROR_SUCCESS)
        return Fail(code);
    return MoveHeld(source, from, to, defer, prepared);
}

} // namespace moves

MoveOutcome MoveFileChecked(const std::string& from, const std::string& to, int* error) {
    const moves::Result result = moves::Move(from, to);
    if (error)
        *error = result.Code;
    return result.Outcome;
}

} // namespace ferry
