#pragma once

// A client that writes a message after the server's go-ahead for DATA.

#include "mail/smtp_explicit_tls_client.h"

namespace ferry {

class TIdMessage;

// A client that can write a message as the text that follows the server's go-ahead for DATA.
class TIdMessageClient : public TIdExplicitTLSClient {
public:
    // Header block, blank line and body lines with leading dots doubled; the closing "."
    // is the caller's.
    void TransmitMessage(TIdMessage& message, bool headersOnly);

protected:
    // The same text, added to output the caller is already collecting: the writer's own
    // collecting of the header block would otherwise drop what was collected before it.
    void TransmitMessageCollected(TIdMessage& message, bool headersOnly);

private:
    void Transmit(TIdMessage& message, bool headersOnly, bool collected);
};

} // namespace ferry
