#include "platform/move_parts.h"

#include "platform/copy_mark.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/xattr.h>

namespace ferry {
namespace moves {

namespace {

// A 64-bit hash of a byte stream, fed in pieces of any length. Not cryptographic: it tells
// whether a copy of ours is still what we wrote.
class ContentHash {
public:
    void Add(const unsigned char* data, std::size_t size) {
        Length += size;
        while (size > 0) {
            if (Filled == 0 && size >= 8) {
                uint64_t word;
                std::memcpy(&word, data, 8);
                Mix(word);
                data += 8;
                size -= 8;
                continue;
            }
            Pending |= static_cast<uint64_t>(*data++) << (8 * Filled);
            --size;
            if (++Filled == 8) {
                Mix(Pending);
                Pending = 0;
                Filled = 0;
            }
        }
    }
    // Holes of a sparse file read as zeros, and are hashed as such.
    void AddZeros(uint64_t count) {
        static const unsigned char zeros[4096] = {};
        while (count > 0) {
            const std::size_t piece = count < sizeof zeros ? count : sizeof zeros;
            Add(zeros, piece);
            count -= piece;
        }
    }
    uint64_t Value() const {
        uint64_t h = State ^ (Pending * 0xff51afd7ed558ccdULL) ^ (Length * 0xc4ceb9fe1a85ec53ULL);
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        return h;
    }

private:
    void Mix(uint64_t word) {
        State ^= word * 0x9e3779b97f4a7c15ULL;
        State = ((State << 31) | (State >> 33)) * 0xbf58476d1ce4e5b9ULL;
    }
    uint64_t State = 0x6a09e667f3bcc908ULL;
    uint64_t Pending = 0;
    uint64_t Length = 0;
    unsigned Filled = 0;
};

// The process's file creation mask, as the kernel tells it (umask() itself can only be read by
// changing it, which other threads would notice); -1 when it cannot be told.
int ProcessUmask() {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    char line[256];
    int mask = -1;
    unsigned value = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = static_cast<int>(value & 0777);
            break;
        }
    std::fclose(status);
    return mask;
}

bool ReadFull(int fd, unsigned char* buffer, std::size_t count, off_t offset) {
    while (count > 0) {
        const ssize_t got = pread(fd, buffer, count, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buffer += got;
        count -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

int WriteAllAt(int fd, const unsigned char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t put = pwrite(fd, data, size, offset);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += put;
        size -= static_cast<std::size_t>(put);
        offset += put;
    }
    return 0;
}

// Copies the first `size` bytes of `fd` into `out`, hashing them. A sparse file keeps its
// holes: only the stretches that hold data are read and written, and a hole is hashed as the
// zeros it reads as. Between blocks `alone()` tells whether the source is still untouched.
// Returns 0, ECANCELED when the source was disturbed, or an errno value.
int CopyContent(int fd, off_t size, bool sparse, int out, ContentHash& hash,
                const StillAlone& alone) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[CopyChunk]);
    off_t offset = 0;
    while (offset < size) {
        off_t end = size;
        if (sparse) {
            off_t data = lseek(fd, offset, SEEK_DATA);
            if (data < 0 && errno == ENXIO) {
                data = size; // nothing but a hole up to the end
            } else if (data < 0) {
                if (errno != EINVAL)
                    return errno;
                sparse = false; // the file system cannot tell: copied whole
                data = offset;
            } else if (data > size) {
                data = size;
            }
            if (sparse && data < size) {
                end = lseek(fd, data, SEEK_HOLE);
                if (end < 0)
                    return errno;
                if (end > size)
                    end = size;
            }
            hash.AddZeros(static_cast<uint64_t>(data - offset));
            offset = data;
        }
        while (offset < end) {
            const auto want = static_cast<std::size_t>(std::min<off_t>(CopyChunk, end - offset));
            const ssize_t got = pread(fd, buffer.get(), want, offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return errno;
            if (got == 0)
                return ECANCELED; // shorter than it was: someone changed it
            if (const int err =
                    WriteAllAt(out, buffer.get(), static_cast<std::size_t>(got), offset))
                return err;
            hash.Add(buffer.get(), static_cast<std::size_t>(got));
            offset += got;
            // After the last block the checks before the link and before the source goes say it.
            if (offset < size && !alone())
                return ECANCELED;
        }
    }
    // Longer than it was when its size was taken: a writer got in before we held the file.
    unsigned char beyond;
    if (pread(fd, &beyond, 1, size) != 0)
        return ECANCELED;
    // A hole at the end has no data to write: the size says it.
    if (sparse && ftruncate(out, size) != 0)
        return errno;
    return 0;
}

} // namespace

bool ReadMark(const std::string& path, CopyMark& mark) {
    char value[256];
    const ssize_t size = lgetxattr(path.c_str(), MoveMark, value, sizeof value);
    return size >= 0 &&
           CopyMark::Parse(std::string_view(value, static_cast<std::size_t>(size)), mark);
}

bool SameContent(int a, int b, off_t size, uint64_t& hash) {
    std::unique_ptr<unsigned char[]> left(new unsigned char[CopyChunk]);
    std::unique_ptr<unsigned char[]> right(new unsigned char[CopyChunk]);
    ContentHash sum;
    for (off_t offset = 0; offset < size;) {
        const auto want = static_cast<std::size_t>(std::min<off_t>(CopyChunk, size - offset));
        if (!ReadFull(a, left.get(), want, offset) || !ReadFull(b, right.get(), want, offset) ||
            std::memcmp(left.get(), right.get(), want) != 0)
            return false;
        sum.Add(left.get(), want);
        offset += static_cast<off_t>(want);
    }
    unsigned char beyond;
    if (pread(a, &beyond, 1, size) != 0 || pread(b, &beyond, 1, size) != 0)
        return false;
    hash = sum.Value();
    return true;
}

int TempCopy::Create(const std::string& folder, mode_t mode) {
    if (const int err = Injected(MoveStep::CreateTemp))
        return err;
    if (!(Seam() && Seam()->NamedTemp)) {
        Fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode & 0777);
        if (Fd >= 0) {
            static const int mask = ProcessUmask();
            ModeAsCreated =
                mask >= 0 && (mode & 0777 & ~static_cast<mode_t>(mask)) == (mode & 0777);
            return 0;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
    }
    std::string pattern =
        IncludeTrailingSeparator(folder) + TempPrefix + std::string(TempSuffixLength, 'X');
    Fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (Fd < 0)
        return errno;
    Name = pattern;
    // Until the mark is on, the file is empty: an empty file of our name is ours too.
    fsetxattr(Fd, TempMark, "1", 1, 0);
    return 0;
}

Result MakeCopy(int fd, const struct stat& st, const StillAlone& alone,
                const std::string& destFolder, TempCopy& temp, bool& marked) {
    if (const int err = temp.Create(destFolder, st.st_mode))
        return err == ENOENT || err == ENOTDIR ? Fail(ERROR_PATH_NOT_FOUND) : FailErrno(err);
    if (const int err = Injected(MoveStep::Copy))
        return FailErrno(err);

    // The source may not be opened or changed by anyone while it is copied; a writer that
    // opens it ends the copy at once (the lease break), and it stays whole where it is.
    // Fewer blocks than bytes tell a file that may have holes.
    ContentHash hash;
    const bool sparse = static_cast<off_t>(st.st_blocks) * 512 < st.st_size;
    const int err = CopyContent(fd, st.st_size, sparse, temp.Fd, hash, alone);
    if (err == ECANCELED)
        return Busy();
    if (err)
        return FailErrno(err);

    // Keep what a move keeps: permission bits, times and, when we may, the owner.
    static const bool root = geteuid() == 0;
    if (root && fchown(temp.Fd, st.st_uid, st.st_gid) != 0) {
        // The copy then belongs to us; the content is what matters.
    }
    // A change of owner drops the set-id bits, which the creation never gives anyway.
    if (!temp.ModeAsCreated || (st.st_mode & 07000) != 0)
        fchmod(temp.Fd, st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(temp.Fd, times);
    // Without the mark (a file system without user attributes) a copy found under the name
    // after a kill cannot be told from the user's; it then stays, and so does the source.
    const std::string mark = CopyMark::Of(fd, st, hash.Value()).Encode();
    marked = fsetxattr(temp.Fd, MoveMark, mark.data(), mark.size(), 0) == 0;
    return Done();
}

} // namespace moves
} // namespace ferry
