#pragma once

// The text of a message as it is sent after DATA.

#include "mail/line_writer.h"
#include "mail/message.h"
#include "net/io_handler.h"

namespace ferry {

// Turns a message into the text sent after the server's go-ahead for DATA, up to but not
// including the final "." line.
class TIdMessageWriter {
public:
    virtual ~TIdMessageWriter() = default;

    void TransmitMessage(TIdLineWriter& out, TIdMessage& message, bool headersOnly);
    // The same through a connection's I/O handler.
    void TransmitMessage(TIdIOHandler& handler, TIdMessage& message, bool headersOnly);

protected:
    // Composes the headers and sends them in one collected write.
    virtual void WriteHeaderBlock(TIdLineWriter& out, TIdMessage& message);
    // The separator line, the body lines (each its own write, leading "." doubled) and a
    // closing empty line.
    virtual void WriteBodyBlock(TIdLineWriter& out, TIdMessage& message);
};

} // namespace ferry
