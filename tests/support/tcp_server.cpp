#include "support/tcp_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ferry::test {

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Remaining(int64_t deadline) {
    int64_t left = deadline - NowMs();
    return left < 0 ? 0 : static_cast<int>(left);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

int ListenOnLoopback(int backlog, uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

bool TcpTestPeer::Send(const std::string& bytes) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        ssize_t n = ::send(Fd_, bytes.data() + pos, bytes.size() - pos, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        pos += static_cast<size_t>(n);
    }
    return true;
}

int TcpTestPeer::ReadSome(char* data, size_t size, int timeoutMs) {
    if (Fd_ < 0)
        return 0;
    pollfd pfd{Fd_, POLLIN, 0};
    int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready <= 0)
        return -1;
    ssize_t n = ::recv(Fd_, data, size, 0);
    return n < 0 ? 0 : static_cast<int>(n);
}

std::string TcpTestPeer::Read(size_t count, int timeoutMs) {
    int64_t deadline = NowMs() + timeoutMs;
    while (Pending_.size() < count) {
        char chunk[4096];
        int n =
            ReadSome(chunk, std::min(sizeof chunk, count - Pending_.size()), Remaining(deadline));
        if (n <= 0)
            break;
        Pending_.append(chunk, n);
    }
    std::string out = Pending_.substr(0, count);
    Pending_.erase(0, out.size());
    return out;
}

std::string TcpTestPeer::ReadLine(int timeoutMs) {
    int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        auto lf = Pending_.find('\n');
        if (lf != std::string::npos) {
            std::string line = Pending_.substr(0, lf + 1);
            Pending_.erase(0, lf + 1);
            return line;
        }
        char chunk[4096];
        int n = ReadSome(chunk, sizeof chunk, Remaining(deadline));
        if (n <= 0) {
            std::string rest;
            rest.swap(Pending_);
            return rest;
        }
        Pending_.append(chunk, n);
    }
}

std::string TcpTestPeer::ReadUntilClosed(int timeoutMs) {
    int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        char chunk[4096];
        int n = ReadSome(chunk, sizeof chunk, Remaining(deadline));
        if (n <= 0)
            break;
        Pending_.append(chunk, n);
    }
    std::string out;
    out.swap(Pending_);
    return out;
}

bool TcpTestPeer::WaitClosed(int timeoutMs) {
    int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        char chunk[4096];
        int n = ReadSome(chunk, sizeof chunk, Remaining(deadline));
        if (n == 0)
            return true;
        if (n < 0)
            return false;
        Pending_.append(chunk, n);
    }
}

void TcpTestPeer::ShutdownWrite() {
    if (Fd_ >= 0)
        ::shutdown(Fd_, SHUT_WR);
}

void TcpTestPeer::Close() {
    if (Fd_ >= 0)
        ::close(Fd_);
    Fd_ = -1;
}

void TcpTestPeer::Reset() {
    if (Fd_ < 0)
        return;
    linger lg{1, 0};
    ::setsockopt(Fd_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    Close();
}

TcpTestServer::TcpTestServer(Script script, int connections, int acceptTimeoutMs) {
    ListenFd_ = ListenOnLoopback(connections, Port_);
    Thread_ = std::thread([this, script = std::move(script), connections, acceptTimeoutMs] {
        Run(script, connections, acceptTimeoutMs);
    });
}

TcpTestServer::~TcpTestServer() {
    Stop_ = true;
    if (Thread_.joinable())
        Thread_.join();
    if (ListenFd_ >= 0)
        ::close(ListenFd_);
}

void TcpTestServer::Run(Script script, int connections, int acceptTimeoutMs) {
    for (int i = 0; i < connections && ListenFd_ >= 0; ++i) {
        int64_t deadline = NowMs() + acceptTimeoutMs;
        int fd = -1;
        // Accept in short slices so that a test that gives up early can stop the server.
        while (fd < 0 && !Stop_ && NowMs() < deadline) {
            pollfd pfd{ListenFd_, POLLIN, 0};
            if (::poll(&pfd, 1, std::min(100, Remaining(deadline))) > 0)
                fd = ::accept4(ListenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (fd < 0)
            break;
        ++Accepted_;
        TcpTestPeer peer(fd);
        script(peer, i);
    }
    Done_ = true;
}

bool TcpTestServer::Wait(int timeoutMs) {
    int64_t deadline = NowMs() + timeoutMs;
    while (!Done_ && NowMs() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Done_;
}

FullBacklogListener::FullBacklogListener() {
    ListenFd_ = ListenOnLoopback(0, Port_);
    if (ListenFd_ < 0)
        return;
    // Connect without accepting until one connect stays unanswered: the queue is then full
    // and every further SYN is dropped.
    for (int i = 0; i < 16 && !Ready_; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            break;
        Fillers_.push_back(fd);
        sockaddr_in addr = Loopback(Port_);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            continue;
        if (errno != EINPROGRESS)
            break;
        pollfd pfd{fd, POLLOUT, 0};
        if (::poll(&pfd, 1, 300) == 0)
            Ready_ = true;
    }
}

FullBacklogListener::~FullBacklogListener() {
    for (int fd : Fillers_)
        ::close(fd);
    if (ListenFd_ >= 0)
        ::close(ListenFd_);
}

uint16_t UnusedLoopbackPort() {
    uint16_t port = 0;
    int fd = ListenOnLoopback(1, port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace ferry::test
