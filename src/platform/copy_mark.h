#pragma once

// The mark a finished copy of a move across file systems carries from before it is linked
// until its source is gone: the source it was made from, as it was, and the hash of what was
// copied. A move cut short by the end of the process is settled by it: a copy found under
// the name that is marked as made from this very source, and identical to it, is the move's
// own. A mark alone never settles anything: inode numbers are handed out again once a file is
// gone, so the source must also be the same file (its birth) and hold the same bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace ferry {

struct CopyMark {
    // What tells a file from a later one given its inode number: its birth time where the file
    // system keeps one, else the generation number it was given. Marks of earlier versions, and
    // files on file systems that keep neither, have none.
    enum class Birth : unsigned char { Unknown = 0, Time = 1, Generation = 2 };

    unsigned long long Dev = 0, Ino = 0;
    long long Size = 0, MtimeSec = 0, MtimeNsec = 0, CtimeSec = 0, CtimeNsec = 0;
    Birth BirthKind = Birth::Unknown;
    long long BirthSec = 0, BirthNsec = 0; // a generation number is kept in BirthSec
    uint64_t Hash = 0;

    static CopyMark Of(const struct stat& st, uint64_t hash);
    // The same for the open file `fd`, with its birth.
    static CopyMark Of(int fd, const struct stat& st, uint64_t hash);

    // The value stored on the copy. Binary, and short enough for the usual values (under 64
    // bytes) to fit in the inode itself on ext4 beside its name: a mark that needs a block of
    // its own costs the move a block allocated, written, synced and freed.
    std::string Encode() const;
    // Reads a stored value: this form, or the forms that copies made by earlier versions carry
    // (binary without a birth, or the text "1 dev ino size mtime-s mtime-ns ctime-s ctime-ns
    // hash-in-hex").
    static bool Parse(std::string_view value, CopyMark& mark);

    bool Names(const struct stat& st) const { return Dev == st.st_dev && Ino == st.st_ino; }
    // True when `now` (Of the file as it is now) is the very file this mark was made from, of
    // the same size: the same inode and the same birth. A mark without a birth asks the file to
    // be unchanged since instead, which a later file of that inode number never is.
    bool IsOf(const CopyMark& now) const;
    // True when the file the mark was made from is certainly gone: the inode number now
    // belongs to a file of another birth.
    bool Outlived(const CopyMark& now) const;

    bool operator==(const CopyMark&) const = default;
};

} // namespace ferry
