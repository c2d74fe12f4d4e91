#include "net/stack.h"

#include "base/cancellation.h"
#include "base/exception.h"
#include "base/text.h"
#include "net/id_errors.h"
#include "net/socket_errors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ferry {

TIdStack* SocketStack = nullptr;

namespace {

std::mutex UsageLock;
int StackUsageCount = 0;
std::unique_ptr<TIdStack> StackInstance;
TIdStackClass StackClass = [] { return std::unique_ptr<TIdStack>(new TIdStackLinux()); };

std::mutex LookupLock;
TIdHostLookup HostLookup;

int SystemLookup(const std::string& host, TIdIPVersion version, std::vector<TIdAddressBytes>& found,
                 int& err) {
    addrinfo hints{};
    hints.ai_family = version == Id_IPv6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int result = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    err = errno;
    if (result != 0)
        return result;
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET) {
            auto* sin = reinterpret_cast<sockaddr_in*>(ai->ai_addr);
            auto* p = reinterpret_cast<const uint8_t*>(&sin->sin_addr);
            found.emplace_back(p, p + 4);
        } else if (ai->ai_family == AF_INET6) {
            auto* sin6 = reinterpret_cast<sockaddr_in6*>(ai->ai_addr);
            auto* p = reinterpret_cast<const uint8_t*>(&sin6->sin6_addr);
            found.emplace_back(p, p + 16);
        }
    }
    freeaddrinfo(list);
    return 0;
}

// Takes the part before the next "." off the front of rest (all of rest when it has none).
std::string NextDottedPart(std::string& rest) {
    auto dot = rest.find('.');
    std::string part;
    if (dot == std::string::npos) {
        part = rest;
        rest.clear();
    } else {
        part = rest.substr(0, dot);
        rest.erase(0, dot + 1);
    }
    return Trim(part);
}

[[noreturn]] void RaiseLastError(TIdStack& stack) {
    ReportSocketError(stack.WSGetLastError());
}

socklen_t MakeSockAddr(const std::string& ip, int port, TIdIPVersion version,
                       sockaddr_storage& storage) {
    std::memset(&storage, 0, sizeof storage);
    if (port < 0 || port > 65535)
        throw ERangeError();
    if (version == Id_IPv4) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&storage);
        sin->sin_family = AF_INET;
        sin->sin_port = htons(static_cast<uint16_t>(port));
        if (!ip.empty()) {
            auto bytes = TextToIPv4(ip);
            std::memcpy(&sin->sin_addr, bytes.data(), 4);
        }
        return sizeof(sockaddr_in);
    }
    if (version == Id_IPv6) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&storage);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_port = htons(static_cast<uint16_t>(port));
        if (!ip.empty() && inet_pton(AF_INET6, ip.c_str(), &sin6->sin6_addr) != 1)
            throw EConvertError("'" + ip + "' is not a valid IPv6 address");
        return sizeof(sockaddr_in6);
    }
    throw EIdIPVersionUnsupported();
}

void SockAddrToText(const sockaddr_storage& storage, std::string& ip, int& port) {
    if (storage.ss_family == AF_INET) {
        auto* sin = reinterpret_cast<const sockaddr_in*>(&storage);
        ip = IPv4ToText(reinterpret_cast<const uint8_t*>(&sin->sin_addr));
        port = ntohs(sin->sin_port);
    } else if (storage.ss_family == AF_INET6) {
        auto* sin6 = reinterpret_cast<const sockaddr_in6*>(&storage);
        ip = IPv6ToText(reinterpret_cast<const uint8_t*>(&sin6->sin6_addr));
        port = ntohs(sin6->sin6_port);
    } else {
        throw EIdIPVersionUnsupported();
    }
}

int FamilyOf(TIdIPVersion version) {
    if (version == Id_IPv4)
        return AF_INET;
    if (version == Id_IPv6)
        return AF_INET6;
    throw EIdIPVersionUnsupported();
}

} // namespace

TIdHostLookup SetHostLookup(TIdHostLookup lookup) {
    std::lock_guard<std::mutex> guard(LookupLock);
    std::swap(HostLookup, lookup);
    return lookup;
}

bool IsDottedQuad(const std::string& text) {
    std::string rest = text;
    for (int i = 0; i < 4; ++i) {
        int32_t value;
        if (!TryStrToInt(NextDottedPart(rest), value))
            value = -1;
        if (value < 0 || value > 255)
            return false;
    }
    return rest.empty();
}

std::array<uint8_t, 4> TextToIPv4(const std::string& text) {
    std::string rest = text;
    std::array<uint8_t, 4> bytes{};
    for (auto& b : bytes) {
        int32_t value = StrToInt(NextDottedPart(rest));
        if (value < 0 || value > 255)
            throw ERangeError();
        b = static_cast<uint8_t>(value);
    }
    return bytes;
}

std::string IPv4ToText(const uint8_t bytes[4]) {
    return Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

std::string IPv6ToText(const uint8_t bytes[16]) {
    std::string out;
    for (int i = 0; i < 8; ++i) {
        if (i > 0)
            out += ':';
        out += Format("%X", (bytes[2 * i] << 8) | bytes[2 * i + 1]);
    }
    return out;
}

void SetStackClass(TIdStackClass stackClass) {
    std::lock_guard<std::mutex> guard(UsageLock);
    StackClass = std::move(stackClass);
}

void TIdStack::CreateStack() {
    if (!StackClass)
        throw EIdException("Stack Class is undefined.");
    if (StackInstance)
        throw EIdException("Stack already created.");
    StackInstance = StackClass();
    SocketStack = StackInstance.get();
}

void TIdStack::IncUsage() {
    std::lock_guard<std::mutex> guard(UsageLock);
    if (StackUsageCount == 0)
        CreateStack();
    ++StackUsageCount;
}

void TIdStack::DecUsage() {
    std::lock_guard<std::mutex> guard(UsageLock);
    if (StackUsageCount == 0)
        return;
    if (--StackUsageCount == 0) {
        SocketStack = nullptr;
        StackInstance.reset();
    }
}

int TIdStack::UsageCount() {
    std::lock_guard<std::mutex> guard(UsageLock);
    return StackUsageCount;
}

std::string TIdStack::ResolveAddress(const std::string& host, TIdIPVersion version) {
    if (version == Id_IPv4) {
        if (SameTextAscii(host, "LOCALHOST"))
            return "127.0.0.1";
        if (IsDottedQuad(host))
            return host;
        return LookupHostByName(host, version);
    }
    if (version == Id_IPv6) {
        in6_addr addr;
        if (inet_pton(AF_INET6, host.c_str(), &addr) == 1)
            return IPv6ToText(reinterpret_cast<const uint8_t*>(&addr));
        return LookupHostByName(host, version);
    }
    throw EIdIPVersionUnsupported();
}

int TIdStackBSDBase::Send(TIdStackSocketHandle handle, const TIdBytes& buffer, int offset,
                          int size) {
    if (offset < 0 || static_cast<size_t>(offset) > buffer.size())
        throw ERangeError();
    size_t available = buffer.size() - offset;
    size_t count = size < 0 ? available : std::min<size_t>(size, available);
    return WSSend(handle, buffer.data() + offset, count);
}

int TIdStackBSDBase::Receive(TIdStackSocketHandle handle, TIdBytes& buffer) {
    if (buffer.empty())
        throw ERangeError();
    return WSRecv(handle, buffer.data(), buffer.size());
}

TIdStackLinux::TIdStackLinux() {
    char name[250] = {};
    gethostname(name, sizeof name - 1);
    HostName_ = name;
}

int32_t TIdStackLinux::WSGetLastError() {
    return WinsockCodeFromErrno(errno);
}

std::string TIdStackLinux::LookupHostByName(const std::string& host, TIdIPVersion version) {
    TIdHostLookup lookup;
    {
        std::lock_guard<std::mutex> guard(LookupLock);
        lookup = HostLookup;
    }
    std::vector<TIdAddressBytes> found;
    int err = 0;
    int result =
        lookup ? lookup(host, version, found, err) : SystemLookup(host, version, found, err);
    if (result != 0)
        ReportSocketError(WinsockCodeFromAddrInfo(result, err));
    size_t want = version == Id_IPv6 ? 16 : 4;
    // Only the first address is tried: a refusal there is final.
    for (const auto& address : found)
        if (address.size() == want)
            return want == 4 ? IPv4ToText(address.data()) : IPv6ToText(address.data());
    ReportSocketError(wsa::NO_DATA_);
}

TIdStackSocketHandle TIdStackLinux::NewSocketHandle(int socketType, int protocol,
                                                    TIdIPVersion version) {
    int handle = ::socket(FamilyOf(version), socketType | SOCK_CLOEXEC, protocol);
    if (handle < 0)
        RaiseLastError(*this);
    return handle;
}

void TIdStackLinux::Bind(TIdStackSocketHandle handle, const std::string& ip, int port,
                         TIdIPVersion version) {
    sockaddr_storage storage;
    socklen_t len = MakeSockAddr(ip, port, version, storage);
    if (::bind(handle, reinterpret_cast<sockaddr*>(&storage), len) != 0)
        RaiseLastError(*this);
}

void TIdStackLinux::Connect(TIdStackSocketHandle handle, const std::string& ip, int port,
                            TIdIPVersion version) {
    sockaddr_storage storage;
    socklen_t len = MakeSockAddr(ip, port, version, storage);
    if (::connect(handle, reinterpret_cast<sockaddr*>(&storage), len) != 0)
        RaiseLastError(*this);
}

void TIdStackLinux::Disconnect(TIdStackSocketHandle handle) {
    ::shutdown(handle, SHUT_WR);
    ::close(handle);
}

void TIdStackLinux::Abort(TIdStackSocketHandle handle) {
    ::shutdown(handle, SHUT_RDWR);
}

void TIdStackLinux::SetSocketOption(TIdStackSocketHandle handle, int level, int option,
                                    int32_t value) {
    if (::setsockopt(handle, level, option, &value, sizeof value) != 0)
        RaiseLastError(*this);
}

int32_t TIdStackLinux::GetSocketOption(TIdStackSocketHandle handle, int level, int option) {
    int32_t value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(handle, level, option, &value, &len) != 0)
        RaiseLastError(*this);
    return value;
}

void TIdStackLinux::GetSocketName(TIdStackSocketHandle handle, std::string& ip, int& port) {
    sockaddr_storage storage{};
    socklen_t len = sizeof storage;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&storage), &len) != 0)
        RaiseLastError(*this);
    SockAddrToText(storage, ip, port);
}

void TIdStackLinux::GetPeerName(TIdStackSocketHandle handle, std::string& ip, int& port) {
    sockaddr_storage storage{};
    socklen_t len = sizeof storage;
    if (::getpeername(handle, reinterpret_cast<sockaddr*>(&storage), &len) != 0)
        RaiseLastError(*this);
    SockAddrToText(storage, ip, port);
}

bool TIdStackLinux::WaitReadable(TIdStackSocketHandle handle, int timeoutMs) {
    // poll on the one socket: unlike an fd_set it works for any descriptor number.
    pollfd pfd{handle, POLLIN, 0};
    uint32_t start = Ticks();
    // A thread whose work can be called off wakes now and then to see whether it has been.
    const bool cancellable = ThreadCancellable();
    for (;;) {
        ThrowIfThreadCancelled();
        int wait = -1;
        if (timeoutMs >= 0) {
            uint32_t spent = TicksSince(start);
            wait = spent >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - spent;
        }
        const bool sliced = cancellable && (wait < 0 || wait > CancelPollMs);
        if (sliced)
            wait = CancelPollMs;
        int result = ::poll(&pfd, 1, wait);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            RaiseLastError(*this);
        }
        if (result == 0) {
            if (sliced)
                continue;
            return false;
        }
        if (pfd.revents & POLLNVAL)
            ReportSocketError(wsa::ENOTSOCK_);
        return true;
    }
}

int TIdStackLinux::WSSend(TIdStackSocketHandle handle, const uint8_t* data, size_t size) {
    for (;;) {
        // MSG_NOSIGNAL: a peer that has gone must give an error, not end the process.
        ssize_t sent = ::send(handle, data, size, MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<int>(sent);
        if (errno != EINTR)
            RaiseLastError(*this);
    }
}

int TIdStackLinux::WSRecv(TIdStackSocketHandle handle, uint8_t* data, size_t size) {
    for (;;) {
        ssize_t got = ::recv(handle, data, size, 0);
        if (got >= 0)
            return static_cast<int>(got);
        if (errno != EINTR)
            RaiseLastError(*this);
    }
}

} // namespace ferry
