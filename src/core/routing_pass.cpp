#include "core/routing_pass.h"

#include "base/cancellation.h"
#include "base/exception.h"
#include "core/case_sensitive_match.h"
#include "core/content_matcher.h"
#include "core/read_ahead.h"
#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/system_errors.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace ferry {

namespace {

// Builds and hands on the outcomes of one pass; does nothing without a reporter.
class Outcomes {
public:
    Outcomes(const std::string& source, const std::string& destination,
             const OutcomeReporter* reporter)
        : Source_(source), Destination_(destination), Reporter_(reporter) {}

    bool Wanted() const { return Reporter_ && *Reporter_; }

    FileOutcome Make(const std::string& file, OutcomeKind kind) const {
        FileOutcome o;
        o.TimeMs = WallClockMs();
        o.SourceFolder = Source_;
        o.DestinationFolder = Destination_;
        o.File = file;
        o.Kind = kind;
        return o;
    }

    void Report(const FileOutcome& o) const {
        if (Wanted())
            (*Reporter_)(o);
    }

    // How a move ended. `scanned`: what the scan found of the file, when the move renamed that
    // very file. `itself`: the name taken is the file's own.
    FileOutcome Of(const std::string& file, MoveOutcome how, int code, const std::string& to,
                   const struct stat* scanned, bool itself) const {
        FileOutcome o;
        switch (how) {
        case MoveOutcome::Moved:
            o = Make(file, OutcomeKind::Moved);
            if (scanned)
                SetFileIdentity(*scanned, o);
            else
                ReadFileIdentity(to, o);
            break;
        case MoveOutcome::NameTaken:
            o = Make(file, itself ? OutcomeKind::DestinationIsSource : OutcomeKind::NameTaken);
            o.ErrorCode = code;
            break;
        case MoveOutcome::InUse:
            o = Make(file, OutcomeKind::InUse);
            o.ErrorCode = code;
            break;
        case MoveOutcome::Failed:
            o = Make(file, OutcomeKind::MoveFailed);
            o.ErrorCode = code;
            o.Detail = InOutErrorText(code);
            break;
        }
        return o;
    }

    // The error being handled, as the error box would show it.
    void Error(const std::string& file) const {
        if (!Wanted())
            return;
        FileOutcome o = Make(file, OutcomeKind::PassError);
        try {
            throw;
        } catch (const EInOutError& e) {
            o.ErrorCode = e.ErrorCode;
            o.Detail = e.what();
        } catch (const std::exception& e) {
            o.Detail = e.what();
        } catch (...) {
        }
        if (!o.Detail.empty() && static_cast<unsigned char>(o.Detail.back()) > '.')
            o.Detail.push_back('.');
        Report(o);
    }

private:
    const std::string& Source_;
    const std::string& Destination_;
    const OutcomeReporter* Reporter_;
};

// Opens a listed file for its scan and move; null when it has gone since the listing (another
// copy of the program moved it, or its owner deleted it): it is none of the folder's files
// any more, and nothing was done with it.
std::unique_ptr<ReadOnlyFile> OpenListed(const std::string& path) {
    try {
        return std::make_unique<ReadOnlyFile>(path, ReadOnlyFile::Purpose::ForMove);
    } catch (const EInOutError& e) {
        if (e.ErrorCode == ERROR_FILE_NOT_FOUND)
            return nullptr;
        throw;
    }
}

bool SameEntry(const std::string& a, const std::string& b, bool follow) {
    struct stat x, y;
    const auto look = follow ? stat : lstat;
    return look(a.c_str(), &x) == 0 && look(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

// Moves across file systems are final only once their batch has finished them: until then
// their outcomes wait here, so that a file someone opened before its source could go is told
// once, as left in use, and never as moved as well.
class Unfinished {
public:
    Unfinished(MoveBatch& batch, const Outcomes& outcomes) : Batch_(batch), Outcomes_(outcomes) {}

    // After a move that ended Moved: true when it waits for the batch, holding `outcome`.
    bool Hold(std::size_t before, const std::string& path, FileOutcome&& outcome) {
        if (Batch_.Unfinished() <= before)
            return false;
        Waiting_.push_back({path, std::move(outcome)});
        return true;
    }

    // After the batch finished some moves (it does so in order): tells their outcomes.
    void Tell(const std::vector<std::string>& returned) {
        std::size_t finished = Waiting_.size() - std::min(Waiting_.size(), Batch_.Unfinished());
        for (; finished > 0; --finished) {
            auto& [path, outcome] = Waiting_.front();
            if (std::find(returned.begin(), returned.end(), path) != returned.end()) {
                outcome = Outcomes_.Make(outcome.File, OutcomeKind::InUse);
                outcome.ErrorCode = ERROR_SHARING_VIOLATION;
            }
            Outcomes_.Report(outcome);
            Waiting_.pop_front();
        }
    }

private:
    MoveBatch& Batch_;
    const Outcomes& Outcomes_;
    std::deque<std::pair<std::string, FileOutcome>> Waiting_;
};

void MovePass(const std::string& source, const std::string& destination, const std::string& mask,
              const std::string& matchString, const bool* caseSensitive,
              const MoveListener& listener, const Outcomes& outcomes, std::string& current) {
    const std::string from = IncludeTrailingSeparator(source);
    const std::string to = IncludeTrailingSeparator(destination);

    // What a killed move left behind: temporaries in the destination, a stashed source here.
    RemoveMoveLeftovers(from);
    if (FolderExists(to))
        RemoveMoveLeftovers(to);

    // The whole listing is taken before anything moves, so moving cannot disturb it.
    std::vector<std::string> names;
    std::vector<bool> plain; // not a symbolic link, whose own identity the scan does not see
    if (!ListFiles(from, mask, names, plain))
        return;
    // One folder under two spellings (a link to it, "/./"): every name there is taken by the
    // file itself, which the move never touches.
    const bool oneFolder = SameEntry(from, to, true);
    // Moves across file systems share their folder syncs.
    MoveBatch batch;
    Unfinished unfinished(batch, outcomes);
    // The next file is read while this one is moved and its listener runs; see read_ahead.h.
    std::unique_ptr<ReadAhead> ahead;
    if (names.size() > 1) {
        try {
            ahead =
                std::make_unique<ReadAhead>(from, names, matchString, caseSensitive, to, &batch);
        } catch (const std::system_error&) {
            // No thread to be had: each file is read at its turn.
        }
    }
    if (ahead)
        batch.CloseWith([&ahead](int fd, bool lease) { ahead->Close(fd, lease); });
    try {
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string& name = names[i];
            // Work called off stops here, between files: never in the middle of a move.
            ThrowIfThreadCancelled();
            unfinished.Tell(batch.Advance());
            const bool exact = caseSensitive ? *caseSensitive : CaseSensitiveMatch.load();
            std::unique_ptr<ReadAhead::Scanned> early = ahead ? ahead->Take(i, exact) : nullptr;
            // A temporary or stash of a move in progress is not one of the user's files.
            if (IsMoveTemporary(from + name))
                continue;
            current = name;
            if (matchString.empty())
                continue;
            // One descriptor serves the scan and the move, under a lease that anyone opening
            // the file meanwhile breaks: such a file is left as in use.
            std::unique_ptr<ReadOnlyFile> opened;
            std::unique_ptr<PreparedCopy> copy;
            int64_t found = -1;
            if (early) {
                opened = std::move(early->File);
                copy = std::move(early->Copy);
                found = early->Result;
            } else {
                if (!(opened = OpenListed(from + name)))
                    continue;
                found = ScanOpenFile(*opened, matchString, exact);
            }
            ReadOnlyFile& file = *opened;
            if (found < 0) {
                file.Close();
                continue;
            }
            // A failed move (name taken, file in use) leaves the file for the next pass; the
            // listener hears of the attempt either way. A file is moved only into a folder that
            // is there at that moment, which the rename itself makes sure of: the folder is
            // looked at only when the file stayed, since a missing one means no attempt at all.
            int code = 0;
            struct stat renamed {};
            std::size_t before = batch.Unfinished();
            MoveOutcome how =
                batch.Move(file, from + name, to + name, &code, &renamed, std::move(copy));
            if (how == MoveOutcome::InUse && early) {
                // Opened by someone since it was read ahead: nothing was done, and the file is
                // read and moved at its turn, as it would have been without reading ahead.
                early.reset();
                std::unique_ptr<ReadOnlyFile> again = OpenListed(from + name);
                if (!again)
                    continue;
                if (ScanOpenFile(*again, matchString, exact) < 0) {
                    again->Close();
                    continue;
                }
                before = batch.Unfinished();
                how = batch.Move(*again, from + name, to + name, &code, &renamed);
            }
            if ((how == MoveOutcome::InUse || how == MoveOutcome::Failed) && !FolderExists(to)) {
                outcomes.Report(outcomes.Make(name, OutcomeKind::DestinationMissing));
                continue;
            }
            if (outcomes.Wanted()) {
                const bool itself = how == MoveOutcome::NameTaken &&
                                    (oneFolder || SameEntry(from + name, to + name, false));
                FileOutcome o =
                    outcomes.Of(name, how, code, to + name,
                                renamed.st_ino != 0 && plain[i] ? &renamed : nullptr, itself);
                if (how != MoveOutcome::Moved ||
                    !unfinished.Hold(before, from + name, std::move(o)))
                    outcomes.Report(o);
            }
            if (listener)
                listener();
        }
    } catch (...) {
        // What was moved is told before the error that ended the pass.
        unfinished.Tell(batch.Finish());
        throw;
    }
    unfinished.Tell(batch.Finish());
    current.clear();
}

void RunPass(const std::string& source, const std::string& destination, const std::string& mask,
             const std::string& matchString, const bool* caseSensitive,
             const MoveListener& listener, const OutcomeReporter* reporter) {
    // An empty path would turn into the root folder once the separator is added.
    if (source.empty() || destination.empty())
        return;
    const Outcomes outcomes(source, destination, reporter);
    std::string current; // the file the pass is at, for the error that may end it
    try {
        MovePass(source, destination, mask, matchString, caseSensitive, listener, outcomes,
                 current);
    } catch (const EOperationCancelled&) {
        throw;
    } catch (...) {
        outcomes.Error(current);
        throw;
    }
}

} // namespace

void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString,
                       const MoveListener& listener) {
    RunPass(source, destination, mask, matchString, nullptr, listener, nullptr);
}

void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString, bool caseSensitive,
                       const MoveListener& listener) {
    RunPass(source, destination, mask, matchString, &caseSensitive, listener, nullptr);
}

void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString, bool caseSensitive,
                       const MoveListener& listener, const OutcomeReporter& reporter) {
    RunPass(source, destination, mask, matchString, &caseSensitive, listener, &reporter);
}

} // namespace ferry
