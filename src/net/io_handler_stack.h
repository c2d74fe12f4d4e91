#pragma once

// The default connection object: a TCP socket through the socket stack.

#include "net/io_handler_socket.h"

namespace ferry {

// The default I/O handler: a TCP socket through the process-wide socket stack.
class TIdIOHandlerStack : public TIdIOHandlerSocket {
public:
    int FillInputBuffer(bool raiseIfClosed, int timeoutMs, bool raiseOnTimeout) override;
    void CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) override;
    bool IsConnected() override;
    bool WaitReadable(int timeoutMs) override;
    void SendNow(const TIdBytes& bytes) override;

protected:
    void ConnectPeer() override;
    void ConnectWithTimeout(int limit);

private:
    bool SocketAllocated() const { return Binding_ && Binding_->HandleAllocated(); }
};

} // namespace ferry
