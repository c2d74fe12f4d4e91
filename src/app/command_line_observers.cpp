#include "app/command_line_observers.h"

namespace ferry {

namespace {

std::unique_ptr<ActivityStore> OpenHistory() {
    try {
        return std::make_unique<ActivityStore>(ActivityStore::DefaultPath());
    } catch (const std::exception& e) {
        NoteHistoryFailure(e.what());
        return nullptr;
    }
}

} // namespace

CommandLineObservers::CommandLineObservers(std::FILE* out)
    : Store(OpenHistory()), History(Store.get()), Lines(out), All{&Lines, &Mail, &History} {
    // Before the history: a notification that fails is told to it before the pass is written.
    Mail.OnNotSent = [this](const FileOutcome& o) {
        Lines.FileEnded(o);
        History.FileEnded(o);
    };
}

} // namespace ferry
