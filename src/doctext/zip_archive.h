#pragma once

// A zip file's parts, read within a bound on how far the file may expand: the sizes the
// archive declares are checked before a byte is inflated, and the bytes really inflated are
// counted too, since a declared size can lie.

#include <cstddef>
#include <string>
#include <vector>

struct zip;

namespace ferry {

class ZipArchive {
public:
    // Opens the zip at `fd` (a duplicate is taken; the caller's stays open). Throws
    // ReadFailure(Damaged) for what is no zip.
    ZipArchive(int fd, std::size_t expansionBound);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    const std::vector<std::string>& Names() const { return Names_; }
    bool Has(const std::string& name) const;
    // The part's bytes; throws ReadFailure (OverSizeBound, Encrypted, Damaged).
    std::string Read(const std::string& name);

private:
    zip* Zip_ = nullptr;
    std::vector<std::string> Names_;
    std::size_t Left_;
};

} // namespace ferry
