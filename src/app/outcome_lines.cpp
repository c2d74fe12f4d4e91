#include "app/outcome_lines.h"

namespace ferry {

void OutcomeLines::FileEnded(const FileOutcome& o) {
    std::string line = o.Task + ": " + o.File + ": " + OutcomeKindText(o.Kind);
    if (!o.Detail.empty())
        line += ": " + o.Detail;
    std::fprintf(Out_, "%s\n", line.c_str());
    std::fflush(Out_);
    if (o.Kind == OutcomeKind::PassError)
        Error = o.Detail;
}

} // namespace ferry
