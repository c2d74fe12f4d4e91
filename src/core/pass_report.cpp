#include "core/pass_report.h"

#include "base/cancellation.h"
#include "base/exception.h"
#include "core/pass_move.h"
#include "platform/system_errors.h"

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
                       const std::string& toFolder) {
    FileOutcome o;
    switch (result.How) {
    case MoveResult::Moved:
        o = Make(file, OutcomeKind::Moved);
        if (result.Renamed)
            SetFileIdentity(*result.Renamed, o);
        else
            ReadFileIdentity(toFolder + file, o);
        break;
    case MoveResult::NameTaken:
        o = Make(file, OutcomeKind::NameTaken);
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
    Tell(o);
    Observer_.MoveAttempted(o);
}

void PassReport::Returned(const std::vector<std::string>& paths, std::size_t folderLength) {
    for (const std::string& path : paths)
        Tell(Make(path.substr(folderLength), OutcomeKind::InUse));
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
