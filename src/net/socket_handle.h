#pragma once

// One connection's socket and its two ends.

#include "net/id_global.h"

#include <atomic>
#include <mutex>
#include <string>

namespace ferry {

// The socket record of one I/O handler: the platform handle and the local and peer ends.
// Closing and the address refresh after a connect are ordered by Lock_, because a connect
// with a time limit runs on its own thread while the caller may close the socket.
class TIdSocketHandle {
public:
    TIdSocketHandle() = default;
    virtual ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    TIdStackSocketHandle Handle() const { return Handle_; }
    bool HandleAllocated() const { return Allocated_; }

    // Local end (to bind, and as read back after bind and connect).
    std::string IP;
    int Port = 0;
    // Remote end.
    std::string PeerIP;
    int PeerPort = 0;
    int ClientPortMin = 0;
    int ClientPortMax = 0;

    TIdIPVersion IPVersion() const { return IPVersion_; }
    // Refused while a socket is allocated with another version.
    void SetIPVersion(TIdIPVersion version);

    void AllocateSocket(int socketType = Id_SOCK_STREAM, int protocol = Id_IPPROTO_IP);
    void Bind();
    virtual void Connect();
    virtual void CloseSocket();
    // Wakes a blocking connect on the socket without releasing the handle.
    void AbortPendingConnect();
    // Forgets the handle and clears both ends, the version going back to IPv4.
    void Reset();
    void SetPeer(const std::string& ip, int port, TIdIPVersion version);

    int Receive(TIdBytes& buffer);
    int Send(const TIdBytes& buffer, int offset = 0, int size = -1);
    // -2 waits without limit. Raises "Connection Closed Gracefully." without a socket.
    bool WaitReadable(int timeoutMs);
    void SetSockOpt(int level, int option, int32_t value);

    void UpdateBindingLocal();
    void UpdateBindingPeer();

private:
    bool TryBind();
    void SetHandle(TIdStackSocketHandle handle);

    std::mutex Lock_;
    std::atomic<TIdStackSocketHandle> Handle_{Id_INVALID_SOCKET};
    std::atomic<bool> Allocated_{false};
    TIdIPVersion IPVersion_ = Id_IPv4;
};

} // namespace ferry
