#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ferry::test {

// A real SMTP server (Debian's aiosmtpd, run by tests/support/smtp_sink.py under the system's
// own /usr/bin/python3) on 127.0.0.1, for integration tests. It keeps every message it
// receives as raw bytes in a folder of its own and logs each connection's input chunk by
// chunk. Start and Stop wait a bounded time; the server also ends by itself when the test
// process goes away, because its standard input then reaches end of file.
class SmtpSink {
public:
    struct Options {
        bool pipelining = false;   // advertise PIPELINING in the EHLO reply
        bool logChunks = true;     // keep the per-connection input logs
        std::string certFile = {}; // PEM certificate chain; with keyFile enables the modes below
        std::string keyFile = {};
        bool starttls = false;    // offer STARTTLS and require it before mail
        bool implicitTls = false; // TLS from the first byte
        std::string auth = {};    // "user:password": offer AUTH (after TLS) for this pair
        bool noPlain = false;     // leave AUTH PLAIN out, offering LOGIN only
        bool silentAuth = false;  // leave every AUTH unanswered
    };
    struct Message {
        std::string mailFrom;
        std::vector<std::string> rcptTo;
        std::string data; // the bytes after DATA, dots unstuffed, without the final "."
    };

    // Starts the server; raises std::runtime_error when it does not report its port in time.
    explicit SmtpSink(Options options);
    SmtpSink() : SmtpSink(Options{}) {}
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    int Port() const { return Port_; }
    const std::string& Folder() const { return Folder_; }

    // The messages received so far, in order of arrival.
    std::vector<Message> Messages() const;
    // Waits until at least `count` messages have arrived or the limit has passed.
    std::vector<Message>
    WaitForMessages(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // Each connection's input as the receives the server made, in order of connection.
    std::vector<std::vector<std::string>> Connections() const;
    // Each connection's input that arrived before encryption began (all of it without TLS).
    std::vector<std::string> ClearInput() const;

    // Ends the server (bounded wait, then a kill). Also done by the destructor.
    void Stop();

    static const char* Interpreter() { return "/usr/bin/python3"; }

private:
    std::string Folder_;
    pid_t Pid_ = -1;
    int StdinFd_ = -1;
    int Port_ = 0;
};

} // namespace ferry::test
