#pragma once

// What a pass started from the command line (--run-once, --headless) is watched by: its lines
// on the terminal or the journal, the e-mail notification, and the history, in that order, as
// a windowed pass is.

#include <cstdio>
#include <memory>

#include "activity/activity_store.h"
#include "activity/pass_history.h"
#include "app/outcome_lines.h"
#include "mail/mail_notifier.h"

namespace ferry {

struct CommandLineObservers {
    explicit CommandLineObservers(std::FILE* out);
    CommandLineObservers(const CommandLineObservers&) = delete;
    CommandLineObservers& operator=(const CommandLineObservers&) = delete;

    std::unique_ptr<ActivityStore> Store; // null when the history cannot be kept (said once)
    PassHistory History;
    MailNotifier Mail;
    OutcomeLines Lines;
    PassObservers All;
};

} // namespace ferry
