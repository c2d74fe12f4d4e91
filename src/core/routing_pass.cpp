#include "core/routing_pass.h"

#include "base/cancellation.h"
#include "base/exception.h"
#include "core/case_sensitive_match.h"
#include "core/content_matcher.h"
#include "core/read_ahead.h"
#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/system_errors.h"

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

    // `scanned`: what the scan found of the file, when the move renamed that very file.
    void Moved(const std::string& file, MoveOutcome how, int code, const std::string& to,
               const struct stat* scanned) const {
        if (!Wanted())
            return;
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
            o = Make(file, OutcomeKind::NameTaken);
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
        Report(o);
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
    // Moves across file systems share their folder syncs. A file the batch finds opened before
    // its source could go is back in the source folder: its outcome is told again.
    MoveBatch batch;
    auto report = [&](const std::vector<std::string>& returned) {
        for (const std::string& back : returned)
            outcomes.Report(outcomes.Make(back.substr(from.size()), OutcomeKind::InUse));
    };
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
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        // Work called off stops here, between files: never in the middle of a move.
        ThrowIfThreadCancelled();
        report(batch.Advance());
        const bool exact = caseSensitive ? *caseSensitive : CaseSensitiveMatch.load();
        std::unique_ptr<ReadAhead::Scanned> early = ahead ? ahead->Take(i, exact) : nullptr;
        // A temporary or stash of a move in progress is not one of the user's files.
        if (IsMoveTemporary(from + name))
            continue;
        current = name;
        if (matchString.empty())
            continue;
        // One descriptor serves the scan and the move, under a lease that anyone opening the
        // file meanwhile breaks: such a file is left as in use.
        std::unique_ptr<ReadOnlyFile> opened;
        std::unique_ptr<PreparedCopy> copy;
        int64_t found = -1;
        if (early) {
            opened = std::move(early->File);
            copy = std::move(early->Copy);
            found = early->Result;
        } else {
            opened = std::make_unique<ReadOnlyFile>(from + name, ReadOnlyFile::Purpose::ForMove);
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
        MoveOutcome how =
            batch.Move(file, from + name, to + name, &code, &renamed, std::move(copy));
        if (how == MoveOutcome::InUse && early) {
            // Opened by someone since it was read ahead: nothing was done, and the file is
            // read and moved at its turn, as it would have been without reading ahead.
            early.reset();
            ReadOnlyFile again(from + name, ReadOnlyFile::Purpose::ForMove);
            if (ScanOpenFile(again, matchString, exact) < 0) {
                again.Close();
                continue;
            }
            how = batch.Move(again, from + name, to + name, &code, &renamed);
        }
        if ((how == MoveOutcome::InUse || how == MoveOutcome::Failed) && !FolderExists(to)) {
            outcomes.Report(outcomes.Make(name, OutcomeKind::DestinationMissing));
            continue;
        }
        outcomes.Moved(name, how, code, to + name,
                       renamed.st_ino != 0 && plain[i] ? &renamed : nullptr);
        if (listener)
            listener();
    }
    report(batch.Finish());
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
