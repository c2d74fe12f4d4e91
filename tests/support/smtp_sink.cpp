#include "support/smtp_sink.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ferry::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto StartLimit = std::chrono::seconds(20);
constexpr auto StopLimit = std::chrono::seconds(5);

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::vector<fs::path> Sorted(const std::string& folder, const std::string& prefix,
                             const std::string& extension) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        auto name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && entry.path().extension() == extension)
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

SmtpSink::SmtpSink(Options options) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ferry-smtp-sink-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error(std::string("smtp sink: mkdtemp: ") + std::strerror(errno));
    Folder_ = pattern;

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("smtp sink: pipe: ") + std::strerror(errno));

    std::string script = std::string(FERRY_SOURCE_DIR) + "/tests/support/smtp_sink.py";
    std::string messages = Folder_ + "/messages";
    std::string log = Folder_ + "/server.log";
    std::vector<std::string> args = {Interpreter(), script, messages};
    if (options.pipelining)
        args.push_back("--pipelining");
    if (!options.logChunks)
        args.push_back("--no-log");
    if (!options.certFile.empty())
        args.insert(args.end(), {"--cert", options.certFile, "--key", options.keyFile});
    if (options.starttls)
        args.push_back("--starttls");
    if (options.implicitTls)
        args.push_back("--implicit-tls");
    if (!options.auth.empty())
        args.insert(args.end(), {"--auth", options.auth});
    if (options.noPlain)
        args.push_back("--no-plain");
    if (options.silentAuth)
        args.push_back("--silent-auth");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int rc = ::posix_spawn(&Pid_, Interpreter(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        Pid_ = -1;
        throw std::runtime_error(std::string("smtp sink: cannot start ") + Interpreter() + ": " +
                                 std::strerror(rc));
    }
    StdinFd_ = in[1];
    Folder_ = messages;

    // The first output line is the port, written once the server listens.
    std::string line;
    auto deadline = Clock::now() + StartLimit;
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[64];
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<size_t>(n));
    }
    ::close(out[0]);
    Port_ = std::atoi(line.c_str());
    if (Port_ <= 0) {
        Stop();
        throw std::runtime_error("smtp sink: the server did not start (see " + log +
                                 "): " + ReadFile(log));
    }
}

SmtpSink::~SmtpSink() {
    Stop();
    std::error_code ec;
    if (!Folder_.empty())
        fs::remove_all(fs::path(Folder_).parent_path(), ec);
}

void SmtpSink::Stop() {
    if (StdinFd_ >= 0) {
        ::close(StdinFd_);
        StdinFd_ = -1;
    }
    if (Pid_ <= 0)
        return;
    auto deadline = Clock::now() + StopLimit;
    int status = 0;
    while (::waitpid(Pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(Pid_, SIGKILL);
            ::waitpid(Pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Pid_ = -1;
}

std::vector<SmtpSink::Message> SmtpSink::Messages() const {
    std::vector<Message> result;
    // The .eml file is renamed into place last, so its presence means the pair is complete.
    for (const auto& eml : Sorted(Folder_, "msg-", ".eml")) {
        Message m;
        m.data = ReadFile(eml);
        fs::path env = eml;
        env.replace_extension(".env");
        std::istringstream lines(ReadFile(env));
        std::string line;
        if (std::getline(lines, line))
            m.mailFrom = line;
        while (std::getline(lines, line))
            m.rcptTo.push_back(line);
        result.push_back(std::move(m));
    }
    return result;
}

std::vector<SmtpSink::Message> SmtpSink::WaitForMessages(size_t count,
                                                         std::chrono::milliseconds limit) const {
    auto deadline = Clock::now() + limit;
    auto found = Messages();
    while (found.size() < count && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        found = Messages();
    }
    return found;
}

std::vector<std::vector<std::string>> SmtpSink::Connections() const {
    std::vector<std::vector<std::string>> result;
    for (const auto& path : Sorted(Folder_, "conn-", ".chunks")) {
        std::istringstream lines(ReadFile(path));
        std::vector<std::string> chunks;
        std::string line;
        while (std::getline(lines, line))
            if (!line.empty())
                chunks.push_back(FromHex(line));
        result.push_back(std::move(chunks));
    }
    return result;
}

std::vector<std::string> SmtpSink::ClearInput() const {
    std::vector<std::string> result;
    for (const auto& path : Sorted(Folder_, "conn-", ".clear")) {
        std::istringstream lines(ReadFile(path));
        std::string all, line;
        while (std::getline(lines, line))
            all += FromHex(line);
        result.push_back(std::move(all));
    }
    return result;
}

} // namespace ferry::test
