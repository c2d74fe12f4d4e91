#include "platform/autostart.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef FERRY_APP_ID
#define FERRY_APP_ID "ferrydesk"
#endif

namespace ferry {

namespace {

// The program file itself, so the entry starts this copy wherever it was installed.
std::string OwnProgramPath() {
    std::string path(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<size_t>(n) >= path.size())
        return std::string();
    path.resize(static_cast<size_t>(n));
    return path;
}

// A string value of the desktop entry format: a backslash is written doubled.
std::string StringValue(const std::string& text) {
    std::string value;
    for (char c : text)
        value += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return value;
}

// One argument of an Exec line: quoted when it holds a reserved character, with the
// escapes the desktop entry format asks for inside quotes and in string values.
std::string ExecArgument(const std::string& arg) {
    const bool quote =
        arg.empty() || arg.find_first_of(" \t\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string out;
    for (char c : arg) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += '\\';
        out += c;
    }
    if (quote)
        out = "\"" + out + "\"";
    return StringValue(out);
}

// Makes every missing directory of `dir`, like mkdir -p; errno tells why it failed.
bool MakeDirectories(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    auto slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash)))
        return false;
    return ::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

// A temporary name of our own beside `path`: hidden and not ending in ".desktop", so the
// session never reads it, and random, so nobody can plant something under it in advance.
std::string TemporaryName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // No entropy to be had: still unlikely to be guessed, and O_EXCL refuses a planted one.
        const uint64_t mix = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                             static_cast<uint64_t>(::time(nullptr));
        std::memcpy(random, &mix, sizeof random);
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string suffix;
    for (unsigned char b : random) {
        suffix += kDigits[b >> 4];
        suffix += kDigits[b & 15];
    }
    return path.substr(0, slash + 1) + "." + path.substr(slash + 1) + "." + suffix + ".tmp";
}

// Writes the whole file under a temporary name first: the session never sees half an entry.
// The temporary is a new file of our own (never a link or a file someone left there), and the
// rename puts it in place of whatever the final name is, a link included, without following it.
bool WriteWhole(const std::string& path, const std::string& text) {
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = TemporaryName(path);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int saved = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            errno = saved;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    return true;
}

AutostartChange Failure(std::string path, std::string error) {
    AutostartChange change;
    change.Result = AutostartChange::Failed;
    change.Path = std::move(path);
    change.Error = std::move(error);
    return change;
}

} // namespace

std::optional<std::string> AutostartEntryPath() {
    // Relative values of XDG_CONFIG_HOME are to be ignored, as the base directory rules say.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            return std::nullopt;
        base = std::string(home) + "/.config";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/autostart/ferrydesk.desktop";
}

std::string AutostartEntryText(const std::string& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Ferrydesk\n"
           "Comment=Move files into folders by their content\n"
           "Exec=" +
           ExecArgument(program) +
           "\n"
           // Desktops skip an entry whose program is gone, as after an uninstall.
           "TryExec=" +
           StringValue(program) +
           "\n"
           "Icon=" FERRY_APP_ID "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEnabled() {
    const std::optional<std::string> path = AutostartEntryPath();
    struct stat st {};
    return path && ::stat(path->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

AutostartChange SetAutostart(bool on) {
    const std::optional<std::string> path = AutostartEntryPath();
    if (!path)
        return Failure("", "neither XDG_CONFIG_HOME nor HOME names a folder; cannot find the "
                           "autostart folder.");
    AutostartChange change;
    change.Path = *path;
    if (!on) {
        if (::unlink(path->c_str()) == 0) {
            change.Result = AutostartChange::Removed;
            return change;
        }
        if (errno == ENOENT) {
            change.Result = AutostartChange::WasNotSet;
            return change;
        }
        return Failure(*path, "cannot remove " + *path + ": " + std::strerror(errno));
    }
    const std::string program = OwnProgramPath();
    if (program.empty() || program.find_first_of("\r\n") != std::string::npos)
        return Failure(*path, "cannot tell where this program is installed.");
    const std::string dir = path->substr(0, path->find_last_of('/'));
    if (!MakeDirectories(dir))
        return Failure(*path, "cannot create " + dir + ": " + std::strerror(errno));
    if (!WriteWhole(*path, AutostartEntryText(program)))
        return Failure(*path, "cannot write " + *path + ": " + std::strerror(errno));
    change.Result = AutostartChange::Written;
    return change;
}

} // namespace ferry
