#include "app/run_once.h"

#include <cstdio>
#include <memory>

#include "activity/activity_store.h"
#include "activity/pass_history.h"
#include "app/outcome_lines.h"
#include "core/engine.h"
#include "extract/pass_document_reader.h"
#include "mail/mail_notifier.h"
#include "settings/settings_store.h"

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
    OutcomeLines lines(stdout);
    // Before the history: a notification that fails is told to it before the pass is written.
    mail.OnNotSent = [&](const FileOutcome& o) {
        lines.FileEnded(o);
        history.FileEnded(o);
    };
    PassObservers observers{&lines, &mail, &history};
    const CancelFlag never;
    const PassEnd end = RunPass(TaskRowsForPass(table), rules, observers, never);
    if (!end.Error)
        return 0;
    return Fail(lines.Error.empty() ? "the pass ended with an error" : lines.Error);
}

} // namespace ferry
