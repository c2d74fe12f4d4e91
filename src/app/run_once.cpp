#include "app/run_once.h"

#include <cstdio>
#include <memory>

#include "activity/activity_store.h"
#include "activity/pass_history.h"
#include "core/engine.h"
#include "extract/pass_document_reader.h"
#include "mail/notification.h"
#include "settings/settings_store.h"

namespace ferry {

namespace {

// One line per outcome: "Invoices: a.pdf: moved", "Notes: b.txt: left (name taken)", with the
// reason after a failed move and the error's text after the error that ended the pass.
class OutcomeLines : public PassObserver {
public:
    void FileEnded(const FileOutcome& o) override {
        std::string line = o.Task + ": " + o.File + ": " + OutcomeKindText(o.Kind);
        if (!o.Detail.empty())
            line += ": " + o.Detail;
        std::printf("%s\n", line.c_str());
        if (o.Kind == OutcomeKind::PassError)
            Error = o.Detail;
    }
    std::string Error; // as the error box would show it
};

std::unique_ptr<ActivityStore> OpenHistory() {
    try {
        return std::make_unique<ActivityStore>(ActivityStore::DefaultPath());
    } catch (const std::exception& e) {
        NoteHistoryFailure(e.what());
        return nullptr;
    }
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "ferrydesk: %s\n", why.c_str());
    return 1;
}

} // namespace

int RunOnce() {
    TaskTable table;
    PassRules rules;
    try {
        // Without stored settings there are no tasks; a first run's defaults are the windows'
        // business, so nothing is written here.
        if (!SettingsKeyPresent("ProcessInterval"))
            return 0;
        TStartupLoad load;
        LoadStartupSettings(table, load);
        rules = CurrentPassRules();
        rules.OcrLanguages = ReadOcrLanguages();
        rules.Documents = PassDocumentReaders();
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    const std::unique_ptr<ActivityStore> store = OpenHistory();
    PassHistory history(store.get());
    MailNotifier mail;
    OutcomeLines lines;
    PassObservers observers{&lines, &history, &mail};
    const CancelFlag never;
    const PassEnd end = RunPass(TaskRowsForPass(table), rules, observers, never);
    if (!end.Error)
        return 0;
    return Fail(lines.Error.empty() ? "the pass ended with an error" : lines.Error);
}

} // namespace ferry
