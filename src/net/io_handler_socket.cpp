#include "net/io_handler_socket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace ferry {

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
    if (Binding_)
        Binding_->CloseSocket();
}

void TIdIOHandlerSocket::SetUseNagle(bool value) {
    UseNagle_ = value;
    if (Binding_ && Binding_->HandleAllocated())
        ApplyNagle();
}

void TIdIOHandlerSocket::ApplyNagle() {
    Binding_->SetSockOpt(IPPROTO_TCP, TCP_NODELAY, UseNagle_ ? 0 : 1);
}

void TIdIOHandlerSocket::Open() {
    TIdIOHandler::Open();
    if (!Binding_)
        Binding_ = std::make_unique<TIdSocketHandle>();
    else
        Binding_->Reset();
    Binding_->ClientPortMin = BoundPortMin;
    Binding_->ClientPortMax = BoundPortMax;
    // A negative port opens the handler without a socket; the first read then finds the
    // connection closed.
    if (!Host.empty() && Port > 0)
        ConnectPeer();
}

void TIdIOHandlerSocket::Close() {
    if (Binding_)
        Binding_->CloseSocket();
    TIdIOHandler::Close();
}

} // namespace ferry
