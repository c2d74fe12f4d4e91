#pragma once

// The message writer's line layer on a real connection.

#include "mail/line_writer.h"
#include "net/io_handler.h"

namespace ferry {

// The message writer's line layer on a connection's I/O handler.
class TIdIOHandlerLineWriter : public TIdLineWriter {
public:
    explicit TIdIOHandlerLineWriter(TIdIOHandler& handler) : Handler_(handler) {}

    void WriteLine(const std::string& text) override { Handler_.WriteLine(text); }
    void BeginBuffering(int threshold = -1) override { Handler_.BeginBuffering(threshold); }
    void EndBuffering() override { Handler_.EndBuffering(); }
    void WriteLines(const std::vector<std::string>& lines) override { Handler_.WriteLines(lines); }

private:
    TIdIOHandler& Handler_;
};

} // namespace ferry
