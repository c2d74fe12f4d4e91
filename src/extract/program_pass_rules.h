#pragma once

// The rules every pass of this program gets, whoever starts it (Run Tasks Now, the timer, a
// folder event, Preview, --run-once, --headless): the case rule as it stands now, the OCR
// languages of the settings and the reader of documents.

#include "core/pass_rules.h"

namespace ferry {

PassRules ProgramPassRules();

} // namespace ferry
