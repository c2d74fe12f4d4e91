#include "app/outcome_lines.h"

#include <unistd.h>

namespace ferry {

namespace {

constexpr auto kFlushEvery = std::chrono::milliseconds(250);

} // namespace

OutcomeLines::OutcomeLines(std::FILE* out)
    : Out_(out), Terminal_(isatty(fileno(out)) == 1), Flushed_(std::chrono::steady_clock::now()) {}

void OutcomeLines::PassStarted(int64_t) {
    InPass_ = true;
}

void OutcomeLines::FileEnded(const FileOutcome& o) {
    std::string line = o.Task + ": " + o.File + ": " + OutcomeKindText(o.Kind);
    if (!o.Detail.empty())
        line += ": " + o.Detail;
    std::fprintf(Out_, "%s\n", line.c_str());
    if (o.Kind == OutcomeKind::PassError)
        Error = o.Detail;
    const auto now = std::chrono::steady_clock::now();
    if (Terminal_ || !InPass_ || now - Flushed_ >= kFlushEvery) {
        std::fflush(Out_);
        Flushed_ = now;
    }
}

void OutcomeLines::PassEnded(const PassEnd&) {
    InPass_ = false;
    std::fflush(Out_);
    Flushed_ = std::chrono::steady_clock::now();
}

} // namespace ferry
