#pragma once

// The mark a finished copy of a move across file systems carries from before it is linked
// until its source is gone: the source it was made from, as it was, and the hash of what was
// copied. A move cut short by the end of the process is settled by it: a copy found under
// the name that is marked as made from this very source, unchanged, is the move's own.

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace ferry {

struct CopyMark {
    unsigned long long Dev = 0, Ino = 0;
    long long Size = 0, MtimeSec = 0, MtimeNsec = 0, CtimeSec = 0, CtimeNsec = 0;
    uint64_t Hash = 0;

    static CopyMark Of(const struct stat& st, uint64_t hash);

    // The value stored on the copy. Binary, and short enough for the usual values (under 48
    // bytes) to fit in the inode itself on ext4 beside its name: a mark that needs a block of
    // its own costs the move a block allocated, written, synced and freed.
    std::string Encode() const;
    // Reads a stored value: this form, or the text form that copies made by earlier versions
    // carry ("1 dev ino size mtime-s mtime-ns ctime-s ctime-ns hash-in-hex").
    static bool Parse(std::string_view value, CopyMark& mark);

    bool Names(const struct stat& st) const { return Dev == st.st_dev && Ino == st.st_ino; }
    // The source as it was when copied: same file, same size, not written or changed since.
    bool Unchanged(const struct stat& st) const;

    bool operator==(const CopyMark&) const = default;
};

} // namespace ferry
