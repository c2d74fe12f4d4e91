#pragma once

// The process-wide socket stack: sockets, name lookups and waits.

#include "net/id_global.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ferry {

// One resolved address: 4 bytes for IPv4, 16 for IPv6, in network order.
using TIdAddressBytes = std::vector<uint8_t>;

// The system name lookup, replaceable so tests can count lookups and produce lookup failures
// without depending on the machine's resolver. Returns a getaddrinfo result code (0 on
// success, with the found addresses in order) and, for EAI_SYSTEM, the errno in err.
using TIdHostLookup = std::function<int(const std::string& host, TIdIPVersion version,
                                        std::vector<TIdAddressBytes>& found, int& err)>;

// Installs a lookup (an empty function restores the system one); returns the previous one.
TIdHostLookup SetHostLookup(TIdHostLookup lookup);

// Four dot-separated numbers 0..255 as the runtime's integer conversion reads them (so a
// trailing dot is allowed and hexadecimal parts pass).
bool IsDottedQuad(const std::string& text);

// The process-wide socket stack: every socket operation of the transport goes through it.
class TIdStack {
public:
    virtual ~TIdStack() = default;

    // Local host name, read once when the stack is created.
    const std::string& HostName() const { return HostName_; }

    virtual std::string LookupHostByName(const std::string& host, TIdIPVersion version) = 0;
    std::string ResolveAddress(const std::string& host, TIdIPVersion version);

    virtual TIdStackSocketHandle NewSocketHandle(int socketType, int protocol,
                                                 TIdIPVersion version) = 0;
    // Binds to address text (empty: any address) and port 0..65535.
    virtual void Bind(TIdStackSocketHandle handle, const std::string& ip, int port,
                      TIdIPVersion version) = 0;
    virtual void Connect(TIdStackSocketHandle handle, const std::string& ip, int port,
                         TIdIPVersion version) = 0;
    // Shutdown for sending, then close; results are ignored.
    virtual void Disconnect(TIdStackSocketHandle handle) = 0;
    // Wakes a blocking call on the socket (a pending connect among them) without closing it.
    virtual void Abort(TIdStackSocketHandle handle) = 0;
    // One send call from offset; size -1 means to the end. Returns the count sent.
    virtual int Send(TIdStackSocketHandle handle, const TIdBytes& buffer, int offset = 0,
                     int size = -1) = 0;
    // One receive call into the whole buffer; 0 means the peer closed.
    virtual int Receive(TIdStackSocketHandle handle, TIdBytes& buffer) = 0;
    virtual void SetSocketOption(TIdStackSocketHandle handle, int level, int option,
                                 int32_t value) = 0;
    virtual int32_t GetSocketOption(TIdStackSocketHandle handle, int level, int option) = 0;
    virtual void GetSocketName(TIdStackSocketHandle handle, std::string& ip, int& port) = 0;
    virtual void GetPeerName(TIdStackSocketHandle handle, std::string& ip, int& port) = 0;
    // Waits until the socket is readable: -2 without limit, else milliseconds.
    virtual bool WaitReadable(TIdStackSocketHandle handle, int timeoutMs) = 0;

    // The Winsock code of the last failed socket call on this thread.
    virtual int32_t WSGetLastError() = 0;

    // Stack usage by the socket components; the first creates SocketStack, the last frees it.
    static void IncUsage();
    static void DecUsage();
    static int UsageCount();
    // Creates SocketStack from the registered stack class (raises when none or when one
    // exists already).
    static void CreateStack();

protected:
    std::string HostName_;
};

// Socket calls shared by Berkeley-style stacks.
class TIdStackBSDBase : public TIdStack {
public:
    int Send(TIdStackSocketHandle handle, const TIdBytes& buffer, int offset = 0,
             int size = -1) override;
    int Receive(TIdStackSocketHandle handle, TIdBytes& buffer) override;

protected:
    virtual int WSSend(TIdStackSocketHandle handle, const uint8_t* data, size_t size) = 0;
    virtual int WSRecv(TIdStackSocketHandle handle, uint8_t* data, size_t size) = 0;
};

// The stack over this platform's POSIX sockets.
class TIdStackLinux : public TIdStackBSDBase {
public:
    TIdStackLinux();

    std::string LookupHostByName(const std::string& host, TIdIPVersion version) override;
    TIdStackSocketHandle NewSocketHandle(int socketType, int protocol,
                                         TIdIPVersion version) override;
    void Bind(TIdStackSocketHandle handle, const std::string& ip, int port,
              TIdIPVersion version) override;
    void Connect(TIdStackSocketHandle handle, const std::string& ip, int port,
                 TIdIPVersion version) override;
    void Disconnect(TIdStackSocketHandle handle) override;
    void Abort(TIdStackSocketHandle handle) override;
    void SetSocketOption(TIdStackSocketHandle handle, int level, int option,
                         int32_t value) override;
    int32_t GetSocketOption(TIdStackSocketHandle handle, int level, int option) override;
    void GetSocketName(TIdStackSocketHandle handle, std::string& ip, int& port) override;
    void GetPeerName(TIdStackSocketHandle handle, std::string& ip, int& port) override;
    bool WaitReadable(TIdStackSocketHandle handle, int timeoutMs) override;
    int32_t WSGetLastError() override;

protected:
    int WSSend(TIdStackSocketHandle handle, const uint8_t* data, size_t size) override;
    int WSRecv(TIdStackSocketHandle handle, uint8_t* data, size_t size) override;
};

using TIdStackClass = std::function<std::unique_ptr<TIdStack>()>;
// Registers the class created as SocketStack (empty: none, creation then fails).
void SetStackClass(TIdStackClass stackClass);

// The one stack instance while any socket component exists; null otherwise.
extern TIdStack* SocketStack;

// Address text of IPv4 and IPv6 socket addresses, as the stack reads and writes them.
std::string IPv4ToText(const uint8_t bytes[4]);
std::string IPv6ToText(const uint8_t bytes[16]);
// Strict conversion of dotted IPv4 text to its four bytes: a non-number raises the
// conversion error, a part outside 0..255 the range error.
std::array<uint8_t, 4> TextToIPv4(const std::string& text);

} // namespace ferry
