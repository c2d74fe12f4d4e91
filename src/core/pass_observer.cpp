#include "core/pass_observer.h"

namespace ferry {

void PassObservers::PassStarted(int64_t startMs) {
    for (PassObserver* o : List_)
        o->PassStarted(startMs);
}

void PassObservers::FileEnded(const FileOutcome& outcome) {
    for (PassObserver* o : List_)
        o->FileEnded(outcome);
}

void PassObservers::MoveAttempted(const FileOutcome& outcome) {
    for (PassObserver* o : List_)
        o->MoveAttempted(outcome);
}

void PassObservers::FilePreviewed(const PreviewedFile& file) {
    for (PassObserver* o : List_)
        o->FilePreviewed(file);
}

void PassObservers::PassEnded(const PassEnd& end) {
    for (PassObserver* o : List_)
        o->PassEnded(end);
}

} // namespace ferry
