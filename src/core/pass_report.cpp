#include "core/pass_report.h"

#include "base/cancellation.h"
#include "base/exception.h"
#include "core/pass_move.h"
#include "platform/system_errors.h"

#include <algorithm>

namespace ferry {

void PassReport::Start() {
    End_.StartMs = WallClockMs();
    Observer_.PassStarted(End_.StartMs);
}

void PassReport::BeginTask(const TaskRecord& task) {
    Task_ = &task;
    File_.clear();
}

FileOutcome PassReport::Make(const std::string& file, OutcomeKind kind) const {
    FileOutcome o;
    o.TimeMs = WallClockMs();
    if (Task_) {
        o.Task = Task_->Identifier;
        o.SourceFolder = Task_->Source;
        o.DestinationFolder = Task_->Destination;
    }
    o.File = file;
    o.Kind = kind;
    return o;
}

void PassReport::Tell(const FileOutcome& outcome) {
    End_.Summary.Count(outcome);
    Observer_.FileEnded(outcome);
}

void PassReport::Moved(const std::string& file, const MoveResult& result,
                       const std::string& fromFolder, const std::string& toFolder,
                       const std::string& why) {
    FileOutcome o;
    switch (result.How) {
    case MoveResult::Moved:
        o = Make(file, OutcomeKind::Moved);
        o.Detail = why;
        if (result.Renamed) {
            SetFileIdentity(*result.Renamed, o);
            o.ChangeTimeFinal = true;
        } else
            ReadFileIdentity(toFolder + file, o);
        break;
    case MoveResult::NameTaken:
        o = Make(file, OutcomeKind::NameTaken);
        o.ErrorCode = result.Code;
        break;
    case MoveResult::DestinationIsSource:
        o = Make(file, OutcomeKind::DestinationIsSource);
        o.ErrorCode = result.Code;
        break;
    case MoveResult::InUse:
        o = Make(file, OutcomeKind::InUse);
        o.ErrorCode = result.Code;
        break;
    case MoveResult::Failed:
        o = Make(file, OutcomeKind::MoveFailed);
        o.ErrorCode = result.Code;
        o.Detail = InOutErrorText(result.Code);
        break;
    case MoveResult::DestinationMissing:
        // No folder to move into: no attempt, so no listener either.
        Tell(Make(file, OutcomeKind::DestinationMissing));
        return;
    case MoveResult::NoLongerMatches:
        return;
    }
    if (result.Unfinished)
        Held_.push_back({fromFolder + file, o});
    else
        Tell(o);
    Observer_.MoveAttempted(o);
}

void PassReport::Unreadable(const std::string& file, const std::string& why) {
    FileOutcome o = Make(file, OutcomeKind::TextUnreadable);
    o.Detail = why;
    Tell(o);
}

void PassReport::Previewed(const std::string& file, bool taken, const std::string& why) {
    Observer_.FilePreviewed({Task_ ? Task_->Identifier : std::string(), file, taken, why});
}

void PassReport::Finished(const MovesFinished& finished) {
    for (std::size_t n = Held_.size() - std::min(Held_.size(), finished.StillUnfinished); n > 0;
         --n) {
        Held& held = Held_.front();
        const auto& returned = finished.Returned;
        if (std::find(returned.begin(), returned.end(), held.From) != returned.end()) {
            held.Outcome = Make(held.Outcome.File, OutcomeKind::InUse);
            held.Outcome.ErrorCode = ERROR_SHARING_VIOLATION;
        }
        Tell(held.Outcome);
        Held_.pop_front();
    }
}

void PassReport::Failed(std::exception_ptr error) {
    End_.Error = error;
    FileOutcome o = Make(File_, OutcomeKind::PassError);
    try {
        std::rethrow_exception(error);
    } catch (const EOperationCancelled&) {
        return; // called off: no error of the pass
    } catch (const EInOutError& e) {
        o.ErrorCode = e.ErrorCode;
        o.Detail = e.what();
    } catch (const std::exception& e) {
        o.Detail = e.what();
    } catch (...) {
    }
    if (!o.Detail.empty() && static_cast<unsigned char>(o.Detail.back()) > '.')
        o.Detail.push_back('.');
    Tell(o);
}

PassEnd PassReport::End() {
    End_.EndMs = WallClockMs();
    Observer_.PassEnded(End_);
    return End_;
}

} // namespace ferry
