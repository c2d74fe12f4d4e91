#include "app/run_once.h"

#include <cstdio>
#include <memory>

#include "app/command_line_observers.h"
#include "core/engine.h"
#include "extract/program_pass_rules.h"
#include "settings/settings_store.h"

namespace ferry {

namespace {

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
        rules = ProgramPassRules();
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    CommandLineObservers watchers(stdout);
    const CancelFlag never;
    const PassEnd end = RunPass(TaskRowsForPass(table), rules, watchers.All, never);
    if (!end.Error)
        return 0;
    const std::string& error = watchers.Lines.Error;
    return Fail(error.empty() ? "the pass ended with an error" : error);
}

} // namespace ferry
