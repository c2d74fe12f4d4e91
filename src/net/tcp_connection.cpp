#include "net/tcp_connection.h"

#include "net/id_errors.h"

#include <exception>

namespace ferry {

TIdTCPConnection::~TIdTCPConnection() {
    if (IOHandler_)
        IOHandler_->Close();
}

void TIdTCPConnection::SetIOHandler(std::unique_ptr<TIdIOHandler> handler) {
    IOHandler_ = std::move(handler);
    ManagedIOHandler_ = false;
    if (IOHandler_)
        IOHandler_->SetWorkTarget(this);
}

bool TIdTCPConnection::IsConnected() {
    return IOHandler_ && IOHandler_->IsConnected();
}

void TIdTCPConnection::Disconnect(bool notifyPeer) {
    std::exception_ptr failure;
    try {
        if (notifyPeer && IsConnected())
            DisconnectNotifyPeer();
    } catch (...) {
        failure = std::current_exception();
    }
    if (IOHandler_ && IOHandler_->IsOpen()) {
        DoStatus(hsDisconnecting);
        IOHandler_->Close();
        if (OnDisconnected)
            OnDisconnected(this);
        DoStatus(hsDisconnected);
    }
    if (failure)
        std::rethrow_exception(failure);
}

int TIdTCPConnection::IssueCommand(const std::string& text, const std::vector<int>& accepted) {
    if (!IOHandler_)
        throw EIdNotConnected();
    // WriteLine refuses a text holding CR or LF before writing anything, so no command
    // can smuggle extra protocol lines.
    IOHandler_->WriteLine(text);
    return AwaitReply(accepted);
}

int TIdTCPConnection::AwaitReply(const std::vector<int>& accepted) {
    ReadReply();
    int code = LastReply->NumericCode();
    CheckReplyCode(code, accepted);
    return code;
}

void TIdTCPConnection::ReadReply() {
    if (!IOHandler_)
        throw EIdNotConnected();
    if (!LastReply)
        throw EIdException("No reply object to read into.");
    std::vector<std::string> lines;
    size_t bytes = 0;
    AddReplyLine(lines, bytes, IOHandler_->ReadNonBlankLine());
    // Only with a read time limit set: a reply that does not come in time is an error, not
    // an empty reply.
    if (IOHandler_->LineTimedOut())
        throw EIdReadTimeout();
    while (!LastReply->IsFinalLine(lines.back())) {
        std::string line = IOHandler_->ReadLine();
        if (IOHandler_->LineTimedOut())
            throw EIdReadTimeout();
        AddReplyLine(lines, bytes, std::move(line));
    }
    LastReply->ParseReplyLines(lines);
}

void TIdTCPConnection::AddReplyLine(std::vector<std::string>& lines, size_t& bytes,
                                    std::string line) {
    bytes += line.size() + 2; // as received, with its line end
    if (lines.size() >= MaxReplyLines || bytes > MaxReplyBytes)
        throw EIdReplyTooLarge();
    lines.push_back(std::move(line));
}

void TIdTCPConnection::CheckReplyCode(int code, const std::vector<int>& accepted) {
    if (accepted.empty())
        return;
    for (int entry : accepted)
        if (entry == code)
            return;
    LastReply->RaiseForReply();
}

} // namespace ferry
