#include "extract/helper_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ferry {

namespace {

// The descriptor number the helper finds its socket at.
constexpr int HelperSocketFd = 3;

bool Executable(const std::string& path) {
    return !path.empty() && access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string FindExtractHelper() {
    if (const char* env = std::getenv("FERRYDESK_EXTRACT_HELPER"); env && env[0])
        return env;
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return "";
    std::string dir(buf.data(), static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    for (const char* rel : {"ferrydesk-extract", "../libexec/ferrydesk/ferrydesk-extract"})
        if (Executable(dir + rel))
            return dir + rel;
    return "";
}

ExtractHelper::ExtractHelper(std::string program) : Program_(std::move(program)) {}

ExtractHelper::~ExtractHelper() {
    Stop();
}

bool ExtractHelper::Start() {
    if (!Executable(Program_))
        return false;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return false;
    // Everything the child needs is made before the fork: a threaded caller's child may only
    // make async-signal-safe calls.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "OMP_THREAD_LIMIT=", 17) != 0)
            envStrings.emplace_back(*e);
    // The OCR engine's thread pool reads this when it loads, before the helper's main runs.
    envStrings.emplace_back("OMP_THREAD_LIMIT=1");
    std::vector<char*> envp;
    for (std::string& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string program = Program_;
    char* argv[] = {program.data(), nullptr};
    const bool keepStderr = std::getenv("FERRYDESK_EXTRACT_DEBUG") != nullptr;

    const pid_t pid = fork();
    if (pid < 0) {
        close(sv[0]);
        close(sv[1]);
        return false;
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(sv[1], HelperSocketFd);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            if (!keepStderr)
                dup2(null, 2);
        }
        // Nothing of the caller's but the socket and the standard three goes along.
        for (int fd = HelperSocketFd + 1; fd < 1024; ++fd)
            close(fd);
        execve(program.c_str(), argv, envp.data());
        _exit(127);
    }
    close(sv[1]);
    Socket_ = sv[0];
    Pid_ = pid;
    return true;
}

int ExtractHelper::Reap(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(Pid_, &status, WNOHANG);
        if (r == Pid_) {
            Pid_ = -1;
            return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        }
        if (r < 0 && errno != EINTR) {
            Pid_ = -1;
            return 0;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        usleep(2000);
    }
}

int ExtractHelper::KillAndReap() {
    if (Socket_ >= 0) {
        close(Socket_);
        Socket_ = -1;
    }
    if (Pid_ < 0)
        return 0;
    // A helper that has just died leaves its signal to read; only a live one is killed.
    int sig = Reap(std::chrono::milliseconds(0));
    if (sig >= 0)
        return sig;
    kill(Pid_, SIGKILL);
    sig = Reap(std::chrono::milliseconds(5000));
    return sig < 0 ? SIGKILL : sig;
}

void ExtractHelper::Stop() {
    if (Socket_ >= 0) {
        close(Socket_);
        Socket_ = -1;
    }
    if (Pid_ >= 0 && Reap(std::chrono::milliseconds(500)) < 0)
        KillAndReap();
}

bool ExtractHelper::Send(int fd, const std::string& frame) {
    iovec iov{const_cast<char*>(frame.data()), frame.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        ssize_t n;
        if (sent == 0) {
            n = sendmsg(Socket_, &msg, MSG_NOSIGNAL);
        } else {
            n = send(Socket_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

ExtractHelper::Got ExtractHelper::Receive(std::string& payload,
                                          std::chrono::steady_clock::time_point deadline) {
    unsigned char header[4];
    std::size_t want = sizeof header, have = 0;
    bool inHeader = true;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return Got::Late;
        pollfd p{Socket_, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (r < 0 && errno != EINTR)
            return Got::Closed;
        if (r <= 0)
            continue;
        char* into = inHeader ? reinterpret_cast<char*>(header) + have : payload.data() + have;
        const ssize_t n = recv(Socket_, into, want - have, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return Got::Closed;
        have += static_cast<std::size_t>(n);
        if (have < want)
            continue;
        if (!inHeader)
            return Got::Frame;
        std::size_t size = 0;
        if (!FrameLength(header, size))
            return Got::Bad;
        inHeader = false;
        payload.assign(size, '\0');
        want = size;
        have = 0;
        if (size == 0)
            return Got::Frame;
    }
}

DocumentText ExtractHelper::Extract(int fd, const ExtractRequest& request,
                                    std::chrono::milliseconds wall, bool& transient) {
    transient = false;
    const std::string payload = EncodeRequest(request);
    const std::string frame = FrameHeader(payload.size()) + payload;
    // A helper left from an earlier file may have gone meanwhile: one fresh start is tried.
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
        if (Pid_ < 0 && !Start())
            return DocumentText::Failed(UnreadableReason::HelperMissing);
        sent = Send(fd, frame);
        if (!sent)
            KillAndReap();
    }
    if (!sent)
        return DocumentText::Failed(UnreadableReason::HelperCrashed);

    std::string answer;
    const Got got = Receive(answer, std::chrono::steady_clock::now() + wall);
    DocumentText text;
    if (got == Got::Frame && DecodeText(answer, text)) {
        // A helper that ran out of memory may be left in any state: the next file gets a new one.
        if (text.Reason == UnreadableReason::OverMemoryBound)
            KillAndReap();
        return text;
    }
    if (got == Got::Late) {
        KillAndReap();
        transient = true;
        return DocumentText::Failed(UnreadableReason::TimedOut);
    }
    const int sig = KillAndReap();
    if (sig == SIGXCPU)
        return DocumentText::Failed(UnreadableReason::TimedOut);
    // A kill or hang-up from outside is about the helper, not the file.
    if (got == Got::Closed && (sig == SIGKILL || sig == SIGTERM || sig == SIGINT || sig == SIGHUP))
        transient = true;
    return DocumentText::Failed(UnreadableReason::HelperCrashed);
}

} // namespace ferry
