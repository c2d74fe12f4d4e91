#include "mail/smtp_message_client.h"

#include "mail/message_writer.h"

namespace ferry {

namespace {

// The message writer speaks to a line layer; this is the connection's. When the caller
// collects the output itself, the writer's own collecting phases are left out.
class TIOHandlerLines : public TIdLineWriter {
public:
    TIOHandlerLines(TIdIOHandler& io, bool collected) : Io_(io), Collected_(collected) {}
    void WriteLine(const std::string& text) override { Io_.WriteLine(text); }
    void BeginBuffering(int threshold) override {
        if (!Collected_)
            Io_.BeginBuffering(threshold);
    }
    void EndBuffering() override {
        if (!Collected_)
            Io_.EndBuffering();
    }

private:
    TIdIOHandler& Io_;
    bool Collected_;
};

} // namespace

void TIdMessageClient::TransmitMessage(TIdMessage& message, bool headersOnly) {
    Transmit(message, headersOnly, false);
}

void TIdMessageClient::TransmitMessageCollected(TIdMessage& message, bool headersOnly) {
    Transmit(message, headersOnly, true);
}

void TIdMessageClient::Transmit(TIdMessage& message, bool headersOnly, bool collected) {
    if (!IOHandler())
        throw EIdNotConnected();
    TIOHandlerLines lines(*IOHandler(), collected);
    TIdMessageWriter writer;
    writer.TransmitMessage(lines, message, headersOnly);
}

} // namespace ferry
