#pragma once

// The extraction helper as its caller sees it: a child process started on first use and
// kept for the files that follow, one request at a time over a socket pair. The file goes
// over as an open descriptor, so the helper reads exactly what the caller opened. A helper
// that overruns the wall-clock bound is killed; one that dies or answers nonsense is
// replaced by a fresh one at the next file.

#include "extract/document_text.h"
#include "extract/wire_format.h"

#include <atomic>
#include <chrono>
#include <string>
#include <sys/types.h>

namespace ferry {

class ExtractHelper {
public:
    explicit ExtractHelper(std::string program);
    ~ExtractHelper();
    ExtractHelper(const ExtractHelper&) = delete;
    ExtractHelper& operator=(const ExtractHelper&) = delete;

    // The text of the file open at `fd` (read from its start, which the helper seeks to).
    // `transient` is set when the failure says nothing about the file (the helper was
    // killed from outside, or the wall clock ran out on a loaded machine).
    DocumentText Extract(int fd, const ExtractRequest& request, std::chrono::milliseconds wall,
                         bool& transient);

    // The running helper's process id, or -1 (any thread may ask).
    pid_t Pid() const { return Pid_; }
    // Ends the helper (closing its socket lets it leave on its own; it is killed if not).
    void Stop();

private:
    bool Start();
    // Kills and reaps the helper; the signal that ended it, 0 for an exit.
    int KillAndReap();
    int Reap(std::chrono::milliseconds wait);
    bool Send(int fd, const std::string& frame);
    enum class Got { Frame, Closed, Late, Bad };
    Got Receive(std::string& payload, std::chrono::steady_clock::time_point deadline);

    std::string Program_;
    std::atomic<pid_t> Pid_{-1};
    int Socket_ = -1;
};

// The helper program beside this program (build tree), or in ../libexec/ferrydesk/ from it
// (installed); FERRYDESK_EXTRACT_HELPER names another. "" when none is found.
std::string FindExtractHelper();

} // namespace ferry
