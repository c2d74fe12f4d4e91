#include "platform/file_move.h"

#include "platform/exclusive_open.h"
#include "platform/files.h"
#include "platform/move_parts.h"

#include <cerrno>
#include <ctime>
#include <sys/xattr.h>

namespace ferry {

using namespace moves;

// The moves of a batch go through two stages: filling, until the batch is due; then waiting,
// with the destination folders synced, for the grace that the opens of the old names under way
// are given, while the next batch fills. The grace then costs the pass no time of its own.
struct MoveBatch::State {
    PassCache Cache;
    Closer CloseFile;
    struct Pending {
        std::unique_ptr<ExclusiveOpen> Source; // holds the source, with its lease, to the end
        Deferred Left;
    };
    struct Stage {
        std::vector<Pending> Moves;
        std::chrono::steady_clock::time_point First, LastHidden;
        bool Synced = false;
    };
    Stage Filling, Waiting;
};

namespace {

constexpr std::chrono::milliseconds Grace{5};

void SyncOnce(std::vector<std::string>& done, const std::string& folder) {
    for (const std::string& synced : done)
        if (synced == folder)
            return;
    done.push_back(folder);
    SyncFolder(folder);
}

} // namespace

MoveBatch::MoveBatch() : State_(std::make_unique<State>()) {}

MoveBatch::~MoveBatch() {
    Finish();
}

MoveOutcome MoveBatch::Move(ReadOnlyFile& file, const std::string& from, const std::string& to,
                            int* error, struct stat* renamed,
                            std::unique_ptr<PreparedCopy> prepared) {
    auto source = std::make_unique<ExclusiveOpen>();
    Deferred left;
    left.Cache = &State_->Cache;
    const Result result = MoveScanned(file, from, to, *source, &left, prepared.get());
    if (error)
        *error = result.Code;
    if (renamed) {
        // Asked of the descriptor held, not the name: no walk of a large folder, and the change
        // time is the rename's own, final for a move that a rename completes.
        if (result.Renamed && fstat(source->Fd(), renamed) != 0)
            *renamed = source->Stat();
        else
            renamed->st_ino = 0;
    }
    if (left.Copy >= 0) {
        State::Stage& filling = State_->Filling;
        const auto now = std::chrono::steady_clock::now();
        if (filling.Moves.empty())
            filling.First = now;
        filling.LastHidden = now;
        filling.Moves.push_back({std::move(source), std::move(left)});
    } else if (State_->CloseFile && source->Fd() >= 0) {
        bool lease = false;
        const int fd = source->Release(lease);
        State_->CloseFile(fd, lease);
    }
    return result.Outcome;
}

PreparedCopy::~PreparedCopy() {
    if (Fd >= 0)
        close(Fd); // an unnamed file: gone with its last descriptor
}

std::unique_ptr<PreparedCopy> MoveBatch::Prepare(ReadOnlyFile& file, const std::string& toFolder) {
    // Tests that steer the steps of a move, or want named temporaries, get the moves they steer.
    if (Seam() && (Seam()->Fail || Seam()->NamedTemp))
        return nullptr;
    PassCache& cache = State_->Cache;
    const std::string folder = FolderOf(IncludeTrailingSeparator(toFolder) + "x");
    if (cache.PrepareFolder != folder) {
        struct stat there;
        if (stat(folder.c_str(), &there) != 0)
            return nullptr;
        cache.PrepareFolder = folder;
        cache.PrepareDevice = there.st_dev;
    }
    const struct stat& st = file.Stat();
    if (st.st_dev == cache.PrepareDevice && !(Seam() && Seam()->ForceCopy))
        return nullptr; // a rename moves it
    auto copy = std::make_unique<PreparedCopy>();
    TempCopy temp;
    bool marked = false;
    const Result made = MakeCopy(
        file.Fd(), st, [&] { return file.LeaseState() == ReadOnlyFile::Lease::Held; }, folder, temp,
        marked);
    // Only an unnamed copy: it vanishes with the process, whenever that ends.
    if (made.Outcome != MoveOutcome::Moved || !temp.Name.empty())
        return nullptr;
    copy->Fd = temp.Release();
    copy->Folder = folder;
    copy->Marked = marked;
    copy->Sequence = ++cache.Prepared;
    return copy;
}

void MoveBatch::CloseWith(Closer closer) {
    State_->CloseFile = std::move(closer);
}

// Every copy's name durable before any source content goes.
static void SyncDestinations(MoveBatch::State::Stage& stage) {
    if (stage.Synced)
        return;
    std::vector<std::string> synced;
    for (const MoveBatch::State::Pending& move : stage.Moves)
        SyncOnce(synced, FolderOf(move.Left.To));
    stage.Synced = true;
}

// Drops the stashes of a stage whose grace is over, or gives a source opened meanwhile its
// name back; syncs each source folder once after. Appends the sources given back.
static void Complete(MoveBatch::State::Stage& stage, std::vector<std::string>& returned) {
    if (stage.Moves.empty())
        return;
    SyncDestinations(stage);
    const auto graceEnd = stage.LastHidden + Grace;
    const auto now = std::chrono::steady_clock::now();
    if (now < graceEnd) {
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(graceEnd - now);
        const timespec grace{0, static_cast<long>(wait.count())};
        nanosleep(&grace, nullptr);
    }
    std::vector<std::string> synced;
    std::vector<bool> dropped;
    for (MoveBatch::State::Pending& move : stage.Moves) {
        ExclusiveOpen& source = *move.Source;
        Deferred& left = move.Left;
        int err = 0;
        const StashEnd end = DropStash(source, left.From, left.Stash, left.Copy, err);
        if (end != StashEnd::Dropped && err == 0) {
            // Opened after all: as in ReleaseSource, the file returns to its name, whole, and
            // the copy goes again.
            if (end == StashEnd::Returned)
                TakeBackCopy(left.Copy, left.To);
            returned.push_back(left.From);
        }
        // A stash that stays for an injected failure is settled by the next pass.
        dropped.push_back(end == StashEnd::Dropped);
        SyncOnce(synced, FolderOf(left.From));
    }
    // Held to the last, so that an open that reached a source only after its stash went is
    // seen, and what it wrote kept.
    for (std::size_t i = 0; i < stage.Moves.size(); ++i) {
        MoveBatch::State::Pending& move = stage.Moves[i];
        if (!dropped[i])
            continue;
        const LateOpen late =
            RecoverLateOpen(*move.Source, move.Left.From, move.Left.To, move.Left.Copy);
        if (late == LateOpen::Named)
            TakeBackCopy(move.Left.Copy, move.Left.To);
        if (late != LateOpen::None)
            returned.push_back(move.Left.From);
    }
    for (MoveBatch::State::Pending& move : stage.Moves)
        move.Source->Close();
    for (const MoveBatch::State::Pending& move : stage.Moves)
        if (move.Left.Copy >= 0)
            close(move.Left.Copy);
    stage = MoveBatch::State::Stage{};
}

std::vector<std::string> MoveBatch::Advance() {
    std::vector<std::string> returned;
    State::Stage& waiting = State_->Waiting;
    State::Stage& filling = State_->Filling;
    const auto now = std::chrono::steady_clock::now();
    if (!waiting.Moves.empty() && now >= waiting.LastHidden + Grace)
        Complete(waiting, returned);
    const bool due = filling.Moves.size() >= MaxMoves ||
                     (!filling.Moves.empty() && now - filling.First >= MaxAge);
    if (due) {
        Complete(waiting, returned); // still in its grace only when batches fill very fast
        SyncDestinations(filling);
        std::swap(waiting, filling);
    }
    return returned;
}

std::size_t MoveBatch::Unfinished() const {
    return State_->Waiting.Moves.size() + State_->Filling.Moves.size();
}

std::vector<std::string> MoveBatch::Finish() {
    std::vector<std::string> returned;
    Complete(State_->Waiting, returned);
    Complete(State_->Filling, returned);
    return returned;
}

} // namespace ferry
