#include "mail/smtp_base.h"

#include <chrono>
#include <memory>

#include "base/text.h"
#include "mail/address.h"
#include "mail/message.h"
#include "mail/reply_errors.h"
#include "mail/reply_smtp.h"
#include "net/id_errors.h"
#include "net/io_handler_socket.h"
#include "net/stack.h"
#include "platform/host.h"

namespace ferry {

namespace {

bool Accepts(int code, std::initializer_list<int> codes) {
    for (int c : codes)
        if (code == c)
            return true;
    return false;
}

} // namespace

TIdSMTPBase::TIdSMTPBase() {
    SetPort(25);
    LastReply = std::make_unique<TIdReplySMTP>();
}

std::string TIdSMTPBase::GreetingName() const {
    if (!HeloName.empty())
        return HeloName;
    std::string name = SocketStack ? SocketStack->HostName() : std::string();
    if (name.empty())
        name = LocalComputerName();
    // Nothing names this machine: an address literal of the local end is what a server
    // accepts from a client without a name.
    if (name.empty()) {
        auto socket = dynamic_cast<TIdIOHandlerSocket*>(IOHandler());
        if (socket && socket->Binding() && !socket->Binding()->IP.empty())
            name = "[" + socket->Binding()->IP + "]";
        else
            name = "localhost";
    }
    return name;
}

void TIdSMTPBase::ExchangeGreeting() {
    ServerExtensions.Clear();
    std::string name = GreetingName();
    if (UseEhlo && SendCmd("EHLO " + name, {}) == 250) {
        ServerExtensions.Lines = LastReply->Text;
        if (!ServerExtensions.Lines.empty())
            ServerExtensions.Lines.erase(ServerExtensions.Lines.begin());
        return;
    }
    SendCmd("HELO " + name, {250});
}

TIdIOHandler& TIdSMTPBase::RequireIOHandler() {
    if (!IOHandler())
        throw EIdNotConnected();
    return *IOHandler();
}

int TIdSMTPBase::SendCmd(const std::string& command, const std::vector<int>& accepted) {
    RequireIOHandler().WriteLine(command);
    return GetResponse(accepted);
}

int TIdSMTPBase::GetResponse(const std::vector<int>& accepted) {
    ReadResponse();
    int code = LastReply->NumericCode();
    CheckReplyCode(code, accepted);
    return code;
}

void TIdSMTPBase::ReadResponse() {
    int limit = ReadTimeout();
    try {
        if (limit > 0)
            ReadReplyWithin(limit);
        else
            ReadReply(); // no limit: wait as long as the server takes
    } catch (const EIdReadTimeout&) {
        // A late reply would be taken for the answer to the next command, so the dialogue
        // cannot go on: close, and drop any partial reply so that no QUIT is tried either.
        AbandonDialogue();
        throw;
    } catch (const EIdReplyTooLarge&) {
        // The rest of the flood would be read as the QUIT's answer: end here, so the error
        // the caller sees is this one and not the QUIT's.
        AbandonDialogue();
        throw;
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
        // The over-long line stays queued; a QUIT would only meet it again and the peer's
        // close would hide what happened.
        AbandonDialogue();
        throw;
    }
}

void TIdSMTPBase::AbandonDialogue() {
    if (auto io = IOHandler()) {
        io->Close();
        if (io->InputQueue())
            io->InputQueue()->Clear();
    }
}

void TIdSMTPBase::ReadReplyWithin(int limitMs) {
    // The limit covers the whole reply, so a server that trickles bytes cannot stretch it.
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    TIdIOHandler& io = RequireIOHandler();
    auto readLine = [&]() {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            throw EIdReadTimeout();
        std::string line = io.ReadLine("\n", static_cast<int>(left.count()));
        if (io.LineTimedOut())
            throw EIdReadTimeout();
        return line;
    };
    std::vector<std::string> lines;
    size_t bytes = 0;
    std::string first;
    do
        first = Trim(readLine()); // blank lines before a reply are skipped
    while (first.empty());
    AddReplyLine(lines, bytes, std::move(first));
    while (!LastReply->IsFinalLine(lines.back()))
        AddReplyLine(lines, bytes, readLine());
    LastReply->ParseReplyLines(lines);
}

void TIdSMTPBase::WriteMessageData(TIdMessage& message) {
    TIdIOHandler& io = RequireIOHandler();
    io.BeginBuffering(DataFlushThreshold);
    try {
        TransmitMessageCollected(message, false);
        io.WriteLine(".");
    } catch (...) {
        io.EndBuffering(); // what was collected still goes out, as with any collected write
        throw;
    }
    io.EndBuffering();
}

void TIdSMTPBase::SendRecipients(TIdEMailAddressList& recipients) {
    size_t count = recipients.Count();
    if (count == 0)
        return; // the server's refusal of DATA will be the error
    size_t refused = 0;
    bool stopped = false;
    for (size_t i = 0; i < count; ++i) {
        const std::string address = recipients[i].Address;
        int code = SendCmd(RcptToCommand(address), {});
        if (Accepts(code, {250, 251}))
            continue;
        ++refused;
        if (!CanContinueAfterRefusal(address)) {
            stopped = true;
            break;
        }
    }
    if (stopped || refused == count)
        LastReply->RaiseForReply();
}

bool TIdSMTPBase::CanContinueAfterRefusal(const std::string& address) {
    if (!OnFailedRecipient)
        return false;
    std::string text;
    for (const auto& line : LastReply->Text)
        text += line + "\r\n";
    bool vContinue = true;
    OnFailedRecipient(*this, address, LastReply->Code(), text, vContinue);
    return vContinue;
}

void TIdSMTPBase::SendPlainTransaction(TIdMessage& message, TIdEMailAddressList& recipients) {
    SendCmd("RSET", {});
    SendCmd(MailFromCommand(message.From().Address), {250});
    try {
        SendRecipients(recipients);
        SendCmd("DATA", {354});
        WriteMessageData(message);
        GetResponse({250});
    } catch (const EIdSMTPReplyError&) {
        // A refusal leaves the server mid-transaction; reset it so the session stays usable.
        // If the reset fails, its error is the one that continues.
        SendCmd("RSET", {});
        throw;
    }
}

void TIdSMTPBase::SendPipelinedTransaction(TIdMessage& message, TIdEMailAddressList& recipients) {
    size_t count = recipients.Count();
    TIdIOHandler& io = RequireIOHandler();
    io.BeginBuffering(-1);
    try {
        io.WriteLine("RSET");
        io.WriteLine(MailFromCommand(message.From().Address));
        for (size_t i = 0; i < count; ++i)
            io.WriteLine(RcptToCommand(recipients[i].Address));
        io.WriteLine("DATA");
    } catch (...) {
        // Collecting cannot fail on its own; a line refused for holding a line break can.
        // Then nothing of the batch goes out, not the lines before it either.
        io.CancelBuffering();
        throw;
    }
    io.EndBuffering();

    std::unique_ptr<TIdReply> copyOfReply;
    auto noteFailure = [&] {
        if (!copyOfReply)
            copyOfReply = LastReply->Clone();
    };
    if (GetResponse({}) != 250) // RSET
        noteFailure();
    if (GetResponse({}) != 250) // MAIL
        noteFailure();
    if (count > 0) {
        size_t refused = 0;
        for (size_t i = 0; i < count; ++i) {
            if (Accepts(GetResponse({}), {250, 251}))
                continue;
            ++refused;
            if (!copyOfReply && !CanContinueAfterRefusal(recipients[i].Address))
                noteFailure();
        }
        if (!copyOfReply && refused == count)
            noteFailure();
    }
    if (GetResponse({}) == 354) {
        WriteMessageData(message);
        if (GetResponse({}) != 250)
            noteFailure();
    } else {
        noteFailure();
    }
    if (copyOfReply) {
        SendCmd("RSET", {});
        copyOfReply->RaiseForReply();
    }
}

} // namespace ferry
