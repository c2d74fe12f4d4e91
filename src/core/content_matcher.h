#pragma once

// The content matcher: whether a file's bytes hold a match string, read in bounded blocks.

#include <cstddef>
#include <cstdint>
#include <string>

namespace ferry {

class ReadOnlyFile;

// Where a scan reads its bytes from: a file, or a stand-in in tests.
class ScanSource {
public:
    virtual ~ScanSource() = default;
    virtual int64_t Size() = 0;
    // Reads up to `count` bytes at the current position; fewer only at the end.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual void Seek(int64_t position) = 0;
};

// Bytes read per block: 32768, or twice the pattern length for patterns longer than half a
// block, so that every block moves the scan on by at least the pattern's length.
constexpr std::size_t ScanBlockSize = 32768;
std::size_t ScanBlockSizeFor(std::size_t patternLength);

// Offset of the first occurrence of `pattern` in the source, or -1. The source is read
// front to back in blocks that overlap by the pattern's length, so an occurrence across a
// block boundary is found, and memory stays one block whatever the size. A match never
// spans a NUL byte (the text is taken as NUL-terminated pieces). Not case-sensitive, both
// sides compare by their upper case in an 8-bit code page, and by Unicode simple case
// folding in UTF-8 (then blocks overlap by the longest byte length a match can have).
int64_t ScanForString(ScanSource& source, const std::string& pattern, bool caseSensitive);

// ScanForString over a file opened read-only (sharing read and write). Returns -1 without
// touching the file when the pattern or the file name is empty. Raises EInOutError with
// the system error code when the file cannot be opened, sized, read or closed.
int64_t ScanFileForString(const std::string& fileName, const std::string& pattern,
                          bool caseSensitive);

// ScanForString over a file the caller has opened, from its start; the file stays open.
int64_t ScanOpenFile(ReadOnlyFile& file, const std::string& pattern, bool caseSensitive);

} // namespace ferry
