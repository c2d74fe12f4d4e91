#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ferry::test {

// The server end of one accepted test connection. Every read waits at most the given time,
// so a script can never hang a test.
class TcpTestPeer {
public:
    explicit TcpTestPeer(int fd) : Fd_(fd) {}
    ~TcpTestPeer() { Close(); }
    TcpTestPeer(const TcpTestPeer&) = delete;
    TcpTestPeer& operator=(const TcpTestPeer&) = delete;

    // Sends all bytes; false when the connection failed.
    bool Send(const std::string& bytes);
    // Reads up to count bytes, returning early at the deadline or when the client closes.
    std::string Read(size_t count, int timeoutMs = 5000);
    // Reads one line including its LF (what arrived when the deadline passed otherwise).
    std::string ReadLine(int timeoutMs = 5000);
    // Everything until the client closes or the deadline.
    std::string ReadUntilClosed(int timeoutMs = 5000);
    // True once the client has closed its sending side (a read returns end of stream).
    bool WaitClosed(int timeoutMs = 5000);

    void ShutdownWrite();
    void Close();
    // Closes with a reset (RST) instead of an orderly close.
    void Reset();
    int Fd() const { return Fd_; }

private:
    int ReadSome(char* data, size_t size, int timeoutMs);

    int Fd_;
    std::string Pending_;
};

// Listens on 127.0.0.1 at a free port and runs a script on each accepted connection, one
// after the other, on its own thread.
class TcpTestServer {
public:
    using Script = std::function<void(TcpTestPeer& peer, int index)>;

    explicit TcpTestServer(Script script, int connections = 1, int acceptTimeoutMs = 10000);
    ~TcpTestServer();
    TcpTestServer(const TcpTestServer&) = delete;
    TcpTestServer& operator=(const TcpTestServer&) = delete;

    uint16_t Port() const { return Port_; }
    // Waits until every script has run (or the accept wait gave up); false on timeout.
    bool Wait(int timeoutMs = 10000);
    int Accepted() const { return Accepted_; }

private:
    void Run(Script script, int connections, int acceptTimeoutMs);

    int ListenFd_ = -1;
    uint16_t Port_ = 0;
    std::atomic<int> Accepted_{0};
    std::atomic<bool> Done_{false};
    std::atomic<bool> Stop_{false};
    std::thread Thread_;
};

// A loopback listener whose accept queue is full, so a further connect is never answered.
class FullBacklogListener {
public:
    FullBacklogListener();
    ~FullBacklogListener();
    uint16_t Port() const { return Port_; }
    // False when the queue could not be filled on this machine.
    bool Ready() const { return Ready_; }

private:
    int ListenFd_ = -1;
    uint16_t Port_ = 0;
    bool Ready_ = false;
    std::vector<int> Fillers_;
};

// A 127.0.0.1 port with nothing listening on it (just released by the system).
uint16_t UnusedLoopbackPort();

} // namespace ferry::test
