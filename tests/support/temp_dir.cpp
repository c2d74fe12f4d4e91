#include "support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace ferry::test {

namespace {

std::string DefaultParent() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

} // namespace

TempDir::TempDir(const std::string& parent) {
    std::string pattern = (parent.empty() ? DefaultParent() : parent) + "/ferrytest-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder under " + pattern);
    Path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Folders made read-only by a test must be writable again before they can be emptied.
    for (auto it = fs::recursive_directory_iterator(Path_, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(Path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Path_, ec);
}

std::string TempDir::operator/(const std::string& relative) const {
    return Path_ + "/" + relative;
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const {
    const std::string path = *this / relative;
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

std::string TempDir::MakeDir(const std::string& relative) const {
    const std::string path = *this / relative;
    fs::create_directories(path);
    return path;
}

std::vector<std::string> TempDir::Entries(const std::string& relative) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(relative.empty() ? Path_ : *this / relative))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string TempDir::Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TempDir::Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string TempDir::OtherFileSystemThan(const std::string& path) {
    struct stat here, there;
    if (stat(path.c_str(), &here) != 0)
        return "";
    for (const char* candidate : {"/dev/shm", "/run/shm"}) {
        if (stat(candidate, &there) == 0 && S_ISDIR(there.st_mode) && there.st_dev != here.st_dev &&
            access(candidate, W_OK | X_OK) == 0)
            return candidate;
    }
    return "";
}

} // namespace ferry::test
