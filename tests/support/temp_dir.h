#pragma once

#include <string>
#include <vector>

namespace ferry::test {

// A fresh folder for one test, removed with everything in it when the object goes
// (read-only files and folders included).
class TempDir {
public:
    // Creates the folder under `parent`, by default $TMPDIR or /tmp.
    explicit TempDir(const std::string& parent = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return Path_; }
    // Path of `relative` inside the folder.
    std::string operator/(const std::string& relative) const;

    // Writes a file (creating its folders); returns its full path.
    std::string Write(const std::string& relative, const std::string& content) const;
    // Creates a sub-folder (and its parents); returns its full path.
    std::string MakeDir(const std::string& relative) const;
    // Sorted names of every entry in a sub-folder ("" for the folder itself), dot
    // entries included but "." and "..".
    std::vector<std::string> Entries(const std::string& relative = "") const;

    static std::string Read(const std::string& path);
    static bool Exists(const std::string& path);

    // A folder on another file system than `path` where tests may create folders
    // (/dev/shm when it is a separate tmpfs), or "" when there is none.
    static std::string OtherFileSystemThan(const std::string& path);

private:
    std::string Path_;
};

} // namespace ferry::test
