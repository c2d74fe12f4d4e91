#pragma once

// The line layer the message writer sends through.

#include <string>
#include <vector>

namespace ferry {

// The line layer the message writer sends through: the connection's I/O handler in the
// program, a recording double in tests.
class TIdLineWriter {
public:
    virtual ~TIdLineWriter() = default;

    // The text and CR LF; outside a collecting phase this is one send.
    virtual void WriteLine(const std::string& text) = 0;
    // Starts collecting output (dropping anything collected and not yet sent).
    virtual void BeginBuffering(int threshold = -1) = 0;
    // Sends what was collected in one piece and writes directly again.
    virtual void EndBuffering() = 0;

    // All lines in one collected send; what was collected is sent even when a line fails.
    virtual void WriteLines(const std::vector<std::string>& lines) {
        BeginBuffering(-1);
        try {
            for (const std::string& line : lines)
                WriteLine(line);
        } catch (...) {
            EndBuffering();
            throw;
        }
        EndBuffering();
    }
};

} // namespace ferry
