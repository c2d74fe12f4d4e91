#include "net/io_handler.h"

#include "base/text.h"
#include "net/id_errors.h"

namespace ferry {

std::string TIdIOHandler::Destination() const {
    if (Port == DefaultPort || Port <= 0)
        return Host;
    return Host + ":" + IntToStr(Port);
}

void TIdIOHandler::SetDestination(const std::string& destination) {
    auto colon = destination.rfind(':');
    if (colon == std::string::npos)
        return;
    Host = destination.substr(0, colon);
    int32_t port;
    Port = TryStrToInt(Trim(destination.substr(colon + 1)), port) ? port : DefaultPort;
}

void TIdIOHandler::Open() {
    IsOpen_ = false;
    PeerClosed_ = false;
    // A fresh queue: nothing left from an earlier connection is ever read.
    InputQueue_ = std::make_unique<TIdBuffer>();
    ReadBuffer_ = std::make_unique<TIdBuffer>();
    IsOpen_ = true;
}

void TIdIOHandler::Close() {
    if (Intercept)
        Intercept->Disconnect();
    IsOpen_ = false;
}

bool TIdIOHandler::HandlerConnected() {
    CheckPeerClosed(false, false);
    bool unread = InputQueue_ && !InputQueue_->IsEmpty();
    return IsOpen_ && ((!PeerClosed_ && InputQueue_) || unread);
}

bool TIdIOHandler::IsConnected() {
    return HandlerConnected();
}

TIdBytes TIdIOHandler::PrepareSend(const TIdBytes& bytes) {
    CheckPeerClosed(true, true);
    if (OnSendNow)
        OnSendNow(bytes);
    TIdBytes out = bytes;
    if (Intercept)
        Intercept->Send(out);
    return out;
}

void TIdIOHandler::SendNow(const TIdBytes& bytes) {
    PrepareSend(bytes);
}

void TIdIOHandler::WriteBytes(const TIdBytes& bytes) {
    if (bytes.empty())
        return;
    if (PendingOutput_) {
        PendingOutput_->Write(bytes);
        if (FlushThreshold_ > 0 && PendingOutput_->Size() >= FlushThreshold_)
            FlushBuffered(FlushThreshold_);
        return;
    }
    SendNow(bytes);
}

void TIdIOHandler::WriteText(const std::string& text) {
    if (text.empty())
        return;
    WriteBytes(ToBytes(text));
}

void TIdIOHandler::WriteLine(const std::string& text) {
    if (text.find_first_of("\r\n") != std::string::npos)
        throw EIdException("Line to write holds a CR or LF.");
    WriteText(text + "\r\n");
}

void TIdIOHandler::WriteLines(const std::vector<std::string>& lines) {
    BeginBuffering(-1);
    try {
        for (const auto& line : lines)
            WriteLine(line);
    } catch (...) {
        // What was collected before the failure still goes out.
        EndBuffering();
        throw;
    }
    EndBuffering();
}

void TIdIOHandler::BeginBuffering(int threshold) {
    if (PendingOutput_)
        PendingOutput_->Clear();
    else
        PendingOutput_ = std::make_unique<TIdBuffer>();
    FlushThreshold_ = threshold;
}

void TIdIOHandler::FlushBuffered(int count) {
    if (!PendingOutput_ || PendingOutput_->IsEmpty())
        return;
    SendNow(PendingOutput_->Extract(count));
}

void TIdIOHandler::EndBuffering() {
    try {
        FlushBuffered(-1);
    } catch (...) {
        PendingOutput_.reset();
        throw;
    }
    PendingOutput_.reset();
}

void TIdIOHandler::CancelBuffering() {
    if (PendingOutput_)
        PendingOutput_->Clear();
    EndBuffering();
}

std::string TIdIOHandler::ReadLine(const std::string& terminator, int timeoutMs, int maxLength) {
    if (maxLength < 0)
        maxLength = MaxLineLength;
    const TIdBytes term = ToBytes(terminator.empty() ? std::string("\n") : terminator);
    LineWasSplit_ = false;
    LineTimedOut_ = false;
    const uint32_t start = timeoutMs >= 0 ? Ticks() : 0;
    int searched = 0;
    int pos = -1;
    bool tooLong = false;
    for (;;) {
        if (InputQueue_ && !InputQueue_->IsEmpty()) {
            if (InputQueue_->Size() > searched) {
                // Only new bytes are searched, backing up so that a terminator of several
                // bytes split across two receives is still found.
                int from = searched - static_cast<int>(term.size()) + 1;
                pos = InputQueue_->IndexOf(term, from < 0 ? 0 : from);
            } else {
                pos = -1;
            }
            searched = InputQueue_->Size();
        }
        if (maxLength > 0 && pos > maxLength) {
            tooLong = true;
            break;
        }
        if (pos >= 0)
            break;
        // Too long once no terminator can start within the limit any more. For a terminator
        // of several bytes its first bytes may already be queued, so they are allowed for:
        // otherwise whether a line passes would depend on how the bytes were cut.
        if (maxLength > 0 && searched - (static_cast<int>(term.size()) - 1) > maxLength) {
            tooLong = true;
            break;
        }
        CheckPeerClosed(true, true);
        if (FillInputBuffer(true, timeoutMs, false) == -1)
            LineTimedOut_ = true;
        if (!LineTimedOut_ && timeoutMs >= 0 &&
            TicksSince(start) >= static_cast<uint32_t>(timeoutMs))
            LineTimedOut_ = true;
        if (LineTimedOut_)
            return std::string();
    }
    if (tooLong) {
        if (MaxLineAction == maException)
            throw EIdReadLnMaxLineLengthExceeded();
        LineWasSplit_ = true;
        return InputQueue_->ExtractToString(maxLength);
    }
    std::string line = InputQueue_->ExtractToString(pos + static_cast<int>(term.size()));
    line.resize(pos);
    if (term.size() == 1 && term[0] == '\n' && pos > 0 && line[pos - 1] == '\r')
        line.resize(pos - 1);
    return line;
}

std::string TIdIOHandler::ReadNonBlankLine(int attempts) {
    for (int i = 0; i < attempts; ++i) {
        std::string line = Trim(ReadLine());
        if (!line.empty())
            return line;
        // With a read time limit, no line within it means none is coming: stop asking.
        if (LineTimedOut_)
            break;
    }
    return std::string();
}

} // namespace ferry
