#include "support/smtp_script_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace ferry::test {

using Clock = std::chrono::steady_clock;

namespace {

// The worker looks at its stop flag at least this often while it waits.
constexpr int SliceMs = 20;

std::string Describe(size_t index, const char* what) {
    return "step " + std::to_string(index + 1) + " (" + what + "): ";
}

} // namespace

SmtpScriptServer::SmtpScriptServer() {
    ListenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (ListenFd_ < 0)
        throw std::runtime_error(std::string("script server: socket: ") + std::strerror(errno));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(ListenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(ListenFd_, 4) != 0 ||
        ::getsockname(ListenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        int err = errno;
        ::close(ListenFd_);
        throw std::runtime_error(std::string("script server: listen: ") + std::strerror(err));
    }
    Port_ = ntohs(addr.sin_port);
}

SmtpScriptServer::~SmtpScriptServer() {
    Stop_ = true;
    if (Worker_.joinable())
        Worker_.join();
    if (ListenFd_ >= 0)
        ::close(ListenFd_);
}

SmtpScriptServer& SmtpScriptServer::Send(std::string bytes) {
    Script_.push_back({Kind::Send, std::move(bytes)});
    return *this;
}

SmtpScriptServer& SmtpScriptServer::Expect(std::string bytes) {
    Script_.push_back({Kind::Expect, std::move(bytes)});
    return *this;
}

SmtpScriptServer& SmtpScriptServer::Pause(Millis duration) {
    Script_.push_back({Kind::Pause, {}, duration});
    return *this;
}

SmtpScriptServer& SmtpScriptServer::Close() {
    Script_.push_back({Kind::Close, {}});
    return *this;
}

SmtpScriptServer& SmtpScriptServer::Reset() {
    Script_.push_back({Kind::Reset, {}});
    return *this;
}

SmtpScriptServer& SmtpScriptServer::ExpectClose() {
    Script_.push_back({Kind::ExpectClose, {}});
    return *this;
}

SmtpScriptServer& SmtpScriptServer::StepLimit(Millis limit) {
    StepLimit_ = limit;
    return *this;
}

void SmtpScriptServer::Start() {
    if (Script_.empty() ||
        (Script_.back().kind != Kind::Close && Script_.back().kind != Kind::Reset &&
         Script_.back().kind != Kind::ExpectClose))
        Script_.push_back({Kind::ExpectClose, {}});
    Worker_ = std::thread([this] { Run(); });
}

std::string SmtpScriptServer::Finish(Millis limit) {
    auto deadline = Clock::now() + limit;
    while (!Done_ && Clock::now() < deadline)
        std::this_thread::sleep_for(Millis(5));
    if (!Done_) {
        Stop_ = true;
        if (Worker_.joinable())
            Worker_.join();
        std::lock_guard<std::mutex> guard(Lock_);
        if (Failure_.empty())
            Failure_ = "the script did not end within " + std::to_string(limit.count()) + " ms";
    }
    if (Worker_.joinable())
        Worker_.join();
    std::lock_guard<std::mutex> guard(Lock_);
    return Failure_;
}

std::string SmtpScriptServer::Received() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Received_;
}

std::string SmtpScriptServer::Escape(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (c < 32 || c >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

void SmtpScriptServer::Fail(std::string what) {
    std::lock_guard<std::mutex> guard(Lock_);
    if (Failure_.empty())
        Failure_ = std::move(what);
}

void SmtpScriptServer::Note(const char* data, size_t size) {
    std::lock_guard<std::mutex> guard(Lock_);
    Received_.append(data, size);
}

bool SmtpScriptServer::WaitReadable(int fd, Clock::time_point deadline) {
    while (!Stop_) {
        auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, SliceMs)));
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return true; // let the read report the error
    }
    return false;
}

void SmtpScriptServer::Run() {
    auto deadline = Clock::now() + StepLimit_;
    if (!WaitReadable(ListenFd_, deadline)) {
        Fail(Stop_ ? "stopped before a client connected" : "no client connected in time");
        Done_ = true;
        return;
    }
    int fd = ::accept4(ListenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        Fail(std::string("accept: ") + std::strerror(errno));
        Done_ = true;
        return;
    }
    Accepted_ = true;
    if (!RunSteps(fd)) {
        // Close at once so that a client still waiting for an answer is not left hanging.
        ::close(fd);
    }
    Done_ = true;
}

bool SmtpScriptServer::RunSteps(int fd) {
    for (size_t i = 0; i < Script_.size(); ++i) {
        const Step& step = Script_[i];
        switch (step.kind) {
        case Kind::Send:
            if (!SendAll(fd, i, step.bytes))
                return false;
            break;
        case Kind::Expect:
            if (!ExpectBytes(fd, i, step.bytes))
                return false;
            break;
        case Kind::Pause: {
            auto until = Clock::now() + step.duration;
            while (!Stop_ && Clock::now() < until)
                std::this_thread::sleep_for(Millis(std::min<long long>(
                    SliceMs,
                    std::chrono::duration_cast<Millis>(until - Clock::now()).count() + 1)));
            break;
        }
        case Kind::Close:
            // Half-close, then keep listening: whatever the client still writes after seeing
            // the end of the stream is a failure, and reading it keeps the close orderly.
            ::shutdown(fd, SHUT_WR);
            if (!AwaitClose(fd, i))
                return false;
            ::close(fd);
            return true;
        case Kind::Reset: {
            linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            ::close(fd);
            return true;
        }
        case Kind::ExpectClose:
            if (!AwaitClose(fd, i))
                return false;
            ::close(fd);
            return true;
        }
    }
    ::close(fd);
    return true;
}

bool SmtpScriptServer::SendAll(int fd, size_t index, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail(Describe(index, "send") + std::strerror(errno));
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SmtpScriptServer::ExpectBytes(int fd, size_t index, const std::string& expected) {
    auto deadline = Clock::now() + StepLimit_;
    size_t matched = 0;
    for (;;) {
        // Compare what is already here before reading more: pipelined input arrives early.
        size_t take = std::min(Unread_.size(), expected.size() - matched);
        for (size_t k = 0; k < take; ++k) {
            if (Unread_[k] != expected[matched + k]) {
                std::string got = expected.substr(0, matched + k) + Unread_.substr(k);
                Fail(Describe(index, "expect") + "byte " + std::to_string(matched + k) +
                     " differs.\n  expected: \"" + Escape(expected) + "\"\n  received: \"" +
                     Escape(got) + "\"");
                return false;
            }
        }
        Unread_.erase(0, take);
        matched += take;
        if (matched == expected.size())
            return true;
        if (!WaitReadable(fd, deadline)) {
            Fail(Describe(index, "expect") + "timed out after " +
                 std::to_string(StepLimit_.count()) + " ms.\n  expected: \"" + Escape(expected) +
                 "\"\n  received: \"" + Escape(expected.substr(0, matched)) + "\"");
            return false;
        }
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail(Describe(index, "expect") +
                 (n == 0 ? std::string("the client closed the connection")
                         : std::string("recv: ") + std::strerror(errno)) +
                 ".\n  expected: \"" + Escape(expected) + "\"\n  received: \"" +
                 Escape(expected.substr(0, matched)) + "\"");
            return false;
        }
        Note(buf, static_cast<size_t>(n));
        Unread_.append(buf, static_cast<size_t>(n));
    }
}

bool SmtpScriptServer::AwaitClose(int fd, size_t index) {
    auto deadline = Clock::now() + StepLimit_;
    for (;;) {
        if (!Unread_.empty()) {
            Fail(Describe(index, "expect close") + "received unexpected bytes \"" +
                 Escape(Unread_) + "\"");
            return false;
        }
        if (!WaitReadable(fd, deadline)) {
            Fail(Describe(index, "expect close") + "the client did not close the connection");
            return false;
        }
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == ECONNRESET) // an abort by the client also ends the connection
                return true;
            Fail(Describe(index, "expect close") + "recv: " + std::strerror(errno));
            return false;
        }
        Note(buf, static_cast<size_t>(n));
        Unread_.append(buf, static_cast<size_t>(n));
    }
}

} // namespace ferry::test
