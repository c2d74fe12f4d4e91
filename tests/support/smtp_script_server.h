#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ferry::test {

// A scripted peer for byte-exact dialogue tests. It listens on 127.0.0.1 on a port the system
// chooses, accepts one connection and runs its script: what it must receive, byte for byte
// (CR LF and the final "." included), what it answers, and when it closes. The first byte that
// differs from the script ends the run with a description of the difference; every wait has a
// limit, so a client that stalls fails the test instead of hanging it.
//
// Unless the script ends by closing or resetting the connection itself, the server then waits
// for the client to close, and any byte that still arrives is a failure: a test sees a command
// the client should not have sent.
class SmtpScriptServer {
public:
    using Millis = std::chrono::milliseconds;

    SmtpScriptServer();
    ~SmtpScriptServer();
    SmtpScriptServer(const SmtpScriptServer&) = delete;
    SmtpScriptServer& operator=(const SmtpScriptServer&) = delete;

    int Port() const { return Port_; }

    // Script steps, added before Start.
    SmtpScriptServer& Send(std::string bytes);
    SmtpScriptServer& Reply(const std::string& line) { return Send(line + "\r\n"); }
    SmtpScriptServer& Expect(std::string bytes);
    SmtpScriptServer& ExpectLine(const std::string& line) { return Expect(line + "\r\n"); }
    // Waits without reading or answering (a server that is slow or silent).
    SmtpScriptServer& Pause(Millis duration);
    // Closes the sending side (FIN); the client must then close, writing nothing more.
    SmtpScriptServer& Close();
    // Aborts the connection (RST); the script ends there.
    SmtpScriptServer& Reset();
    // The client must close now, sending nothing more.
    SmtpScriptServer& ExpectClose();

    // Limit for each wait of a step (accept, the bytes of one Expect, the client's close).
    SmtpScriptServer& StepLimit(Millis limit);

    // Runs the script on a worker thread.
    void Start();

    // Waits at most `limit` for the script to end; gives "" when every step passed, else a
    // description of the first failure.
    std::string Finish(Millis limit = Millis(10000));

    // Everything received so far, in order.
    std::string Received() const;
    bool Accepted() const { return Accepted_; }

    // Bytes made readable in messages: CR, LF, tab and other controls escaped.
    static std::string Escape(const std::string& bytes);

private:
    enum class Kind { Send, Expect, Pause, Close, Reset, ExpectClose };
    struct Step {
        Kind kind;
        std::string bytes;
        Millis duration{0};
    };

    void Run();
    bool RunSteps(int fd);
    bool ExpectBytes(int fd, size_t index, const std::string& expected);
    bool AwaitClose(int fd, size_t index);
    bool SendAll(int fd, size_t index, const std::string& bytes);
    // Waits for readable input until the deadline; false on time-out or stop.
    bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline);
    void Fail(std::string what);
    void Note(const char* data, size_t size);

    int ListenFd_ = -1;
    int Port_ = 0;
    Millis StepLimit_{5000};
    std::vector<Step> Script_;
    std::thread Worker_;
    std::atomic<bool> Stop_{false};
    std::atomic<bool> Done_{false};
    std::atomic<bool> Accepted_{false};
    mutable std::mutex Lock_;
    std::string Failure_;
    std::string Received_;
    std::string Unread_; // received and not yet matched by an Expect step
};

} // namespace ferry::test
