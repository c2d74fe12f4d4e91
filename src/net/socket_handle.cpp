#include "net/socket_handle.h"

#include "base/text.h"
#include "net/id_errors.h"
#include "net/stack.h"

namespace ferry {

TIdSocketHandle::~TIdSocketHandle() {
    CloseSocket();
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion version) {
    if (version == IPVersion_)
        return;
    if (HandleAllocated())
        throw EIdCannotSetIPVersionWhenConnected();
    IPVersion_ = version;
}

void TIdSocketHandle::SetHandle(TIdStackSocketHandle handle) {
    Handle_ = handle;
    Allocated_ = handle != Id_INVALID_SOCKET;
}

void TIdSocketHandle::AllocateSocket(int socketType, int protocol) {
    CloseSocket();
    SetHandle(SocketStack->NewSocketHandle(socketType, protocol, IPVersion_));
}

bool TIdSocketHandle::TryBind() {
    try {
        SocketStack->Bind(Handle_, IP, Port, IPVersion_);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

void TIdSocketHandle::Bind() {
    if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
        if (!TryBind())
            throw EIdCouldNotBindSocket();
        UpdateBindingLocal();
        return;
    }
    if (ClientPortMax < ClientPortMin)
        throw EIdInvalidPortRange(
            Format("Invalid Port Range (%d - %d)", ClientPortMin, ClientPortMax));
    for (int port = ClientPortMax; port >= ClientPortMin; --port) {
        Port = port;
        if (TryBind()) {
            UpdateBindingLocal();
            return;
        }
    }
    Port = 0;
    throw EIdCanNotBindPortInRange(
        Format("Can not bind in port range (%d - %d)", ClientPortMin, ClientPortMax));
}

void TIdSocketHandle::Connect() {
    SocketStack->Connect(Handle_, PeerIP, PeerPort, IPVersion_);
    std::lock_guard<std::mutex> guard(Lock_);
    if (HandleAllocated()) {
        UpdateBindingLocal();
        UpdateBindingPeer();
    }
}

void TIdSocketHandle::CloseSocket() {
    if (!HandleAllocated())
        return;
    std::lock_guard<std::mutex> guard(Lock_);
    if (!HandleAllocated())
        return;
    Allocated_ = false;
    SocketStack->Disconnect(Handle_);
    Handle_ = Id_INVALID_SOCKET;
}

void TIdSocketHandle::AbortPendingConnect() {
    std::lock_guard<std::mutex> guard(Lock_);
    if (HandleAllocated())
        SocketStack->Abort(Handle_);
}

void TIdSocketHandle::Reset() {
    CloseSocket();
    SetHandle(Id_INVALID_SOCKET);
    IP.clear();
    Port = 0;
    PeerIP.clear();
    PeerPort = 0;
    IPVersion_ = Id_IPv4;
}

void TIdSocketHandle::SetPeer(const std::string& ip, int port, TIdIPVersion version) {
    PeerIP = ip;
    PeerPort = port;
    IPVersion_ = version;
}

int TIdSocketHandle::Receive(TIdBytes& buffer) {
    return SocketStack->Receive(Handle_, buffer);
}

int TIdSocketHandle::Send(const TIdBytes& buffer, int offset, int size) {
    return SocketStack->Send(Handle_, buffer, offset, size);
}

bool TIdSocketHandle::WaitReadable(int timeoutMs) {
    if (!HandleAllocated())
        throw EIdConnClosedGracefully();
    return SocketStack->WaitReadable(Handle_, timeoutMs);
}

void TIdSocketHandle::SetSockOpt(int level, int option, int32_t value) {
    SocketStack->SetSocketOption(Handle_, level, option, value);
}

void TIdSocketHandle::UpdateBindingLocal() {
    SocketStack->GetSocketName(Handle_, IP, Port);
}

void TIdSocketHandle::UpdateBindingPeer() {
    SocketStack->GetPeerName(Handle_, PeerIP, PeerPort);
}

} // namespace ferry
