#include "core/content_matcher.h"

#include "base/cancellation.h"
#include "core/byte_search.h"
#include "core/fold_search.h"
#include "core/multibyte_search.h"
#include "platform/codepage.h"
#include "platform/files.h"

#include <algorithm>
#include <memory>

namespace ferry {

std::size_t ScanBlockSizeFor(std::size_t patternLength) {
    // A block no longer than twice the pattern would creep forward a few bytes per read
    // (and, from a block's length on, not at all).
    return std::max(ScanBlockSize, 2 * patternLength);
}

namespace {

// `ready`: how many of the file's first bytes the block already holds, or NoneRead.
constexpr std::size_t NoneRead = static_cast<std::size_t>(-1);

// Case-insensitive in UTF-8: a character may match a form of itself of another byte length,
// so blocks overlap by the longest match plus the bytes that tell where characters begin.
int64_t ScanFolded(ScanSource& source, const Utf8FoldPattern& needle, unsigned char* block,
                   std::size_t blockSize, std::size_t ready) {
    const int64_t size = source.Size();
    if (needle.HasNul())
        return -1;
    const auto overlap = static_cast<int64_t>(needle.Overlap());

    int64_t position = 0;
    while (position < size) {
        const auto wanted = static_cast<std::size_t>(std::min<int64_t>(blockSize, size - position));
        const std::size_t got =
            position == 0 && ready != NoneRead ? ready : source.Read(block, wanted);
        const int64_t end = position + static_cast<int64_t>(got);
        const bool last = got < wanted || end >= size;
        const std::size_t at = needle.FindIn(block, got, position == 0, last);
        if (at != Utf8FoldPattern::npos)
            return position + static_cast<int64_t>(at);
        if (last)
            break;
        position = end - overlap;
        source.Seek(position);
    }
    return -1;
}

// In a multi-byte code page every block begins on a character boundary, the one the
// previous block names.
int64_t ScanMultiByte(ScanSource& source, const MultiBytePattern& needle, unsigned char* block,
                      std::size_t blockSize, std::size_t ready) {
    const int64_t size = source.Size();
    if (needle.HasNul())
        return -1;
    int64_t position = 0;
    while (position < size) {
        const auto wanted = static_cast<std::size_t>(std::min<int64_t>(blockSize, size - position));
        const std::size_t got =
            position == 0 && ready != NoneRead ? ready : source.Read(block, wanted);
        std::size_t next = 0;
        const std::size_t at = needle.FindIn(block, got, next);
        if (at != MultiBytePattern::npos)
            return position + static_cast<int64_t>(at);
        if (got < wanted || position + static_cast<int64_t>(got) >= size || next == 0)
            break;
        position += static_cast<int64_t>(next);
        source.Seek(position);
    }
    return -1;
}

// Preparing a pattern (folding it, ranking its bytes, for UTF-8 the case classes of its
// characters) can cost more than scanning a small file, and a pass scans many files for one
// pattern: each thread keeps the last one prepared, with its block buffer.
struct Prepared {
    std::string Pattern;
    bool CaseSensitive = true;
    const unsigned char* Table = nullptr; // the code page it was folded by
    bool Utf8 = false;
    std::unique_ptr<BytePattern> Bytes;
    std::unique_ptr<Utf8FoldPattern> Folded;
    std::unique_ptr<MultiBytePattern> Multi;
    std::unique_ptr<unsigned char[]> Block;
    std::size_t BlockSize = 0;
};

Prepared& Prepare(const std::string& pattern, bool caseSensitive) {
    thread_local Prepared last;
    const CodePage& codePage = SystemCodePage();
    const bool utf8 = !caseSensitive && codePage.IsUtf8();
    const unsigned char* table = codePage.UpperTable();
    if (last.Block && last.Pattern == pattern && last.CaseSensitive == caseSensitive &&
        last.Utf8 == utf8 && last.Table == table)
        return last;
    last.Bytes.reset();
    last.Folded.reset();
    last.Multi.reset();
    std::size_t blockSize;
    if (codePage.IsMultiByte()) {
        last.Multi = std::make_unique<MultiBytePattern>(codePage, pattern, caseSensitive);
        blockSize = ScanBlockSizeFor(last.Multi->Length());
    } else if (utf8) {
        last.Folded = std::make_unique<Utf8FoldPattern>(pattern);
        blockSize = ScanBlockSizeFor(last.Folded->Overlap());
    } else {
        last.Bytes = std::make_unique<BytePattern>(pattern, caseSensitive);
        blockSize = ScanBlockSizeFor(last.Bytes->Length());
    }
    if (blockSize != last.BlockSize || !last.Block) {
        last.Block.reset(new unsigned char[blockSize]);
        last.BlockSize = blockSize;
    }
    last.Pattern = pattern;
    last.CaseSensitive = caseSensitive;
    last.Utf8 = utf8;
    last.Table = table;
    return last;
}

} // namespace

namespace {

int64_t ScanPrepared(ScanSource& source, const Prepared& prepared, std::size_t ready) {
    unsigned char* const block = prepared.Block.get();
    const std::size_t blockSize = prepared.BlockSize;
    if (prepared.Folded)
        return ScanFolded(source, *prepared.Folded, block, blockSize, ready);
    if (prepared.Multi)
        return ScanMultiByte(source, *prepared.Multi, block, blockSize, ready);
    const BytePattern& needle = *prepared.Bytes;
    const int64_t size = source.Size();
    if (needle.HasNul())
        return -1;
    const auto length = static_cast<int64_t>(needle.Length());

    int64_t position = 0;
    while (position < size) {
        const auto wanted = static_cast<std::size_t>(std::min<int64_t>(blockSize, size - position));
        const std::size_t got =
            position == 0 && ready != NoneRead ? ready : source.Read(block, wanted);
        const std::size_t at = needle.FindIn(block, got);
        if (at != BytePattern::npos)
            return position + static_cast<int64_t>(at);
        // A short read means the file was cut while we read it: what is left is searched.
        if (got < wanted)
            break;
        const int64_t end = position + static_cast<int64_t>(got);
        if (end >= size)
            break;
        position = end - length;
        source.Seek(position);
    }
    return -1;
}

class FileSource : public ScanSource {
public:
    explicit FileSource(ReadOnlyFile& file) : File(file) {}
    int64_t Size() override { return File.Size(); }
    std::size_t Read(void* buffer, std::size_t count) override {
        // A scan only reads, so a long one may be given up between two blocks.
        ThrowIfThreadCancelled();
        return File.Read(buffer, count);
    }
    void Seek(int64_t position) override { File.Seek(position); }

private:
    ReadOnlyFile& File;
};

} // namespace

int64_t ScanForString(ScanSource& source, const std::string& pattern, bool caseSensitive) {
    if (pattern.empty())
        return -1;
    return ScanPrepared(source, Prepare(pattern, caseSensitive), NoneRead);
}

int64_t ScanOpenFile(ReadOnlyFile& file, const std::string& pattern, bool caseSensitive) {
    FileSource source(file);
    source.Seek(0);
    return ScanForString(source, pattern, caseSensitive);
}

int64_t ScanFileForString(const std::string& fileName, const std::string& pattern,
                          bool caseSensitive) {
    if (pattern.empty() || fileName.empty())
        return -1;
    ThrowIfThreadCancelled();
    const Prepared& prepared = Prepare(pattern, caseSensitive);
    // The open reads the first block too: a small file then costs the fewest system calls.
    // Closed by its destructor when an error leaves.
    ReadOnlyFile file(fileName, prepared.Block.get(), prepared.BlockSize);
    FileSource source(file);
    const int64_t offset = ScanPrepared(source, prepared, file.FirstBlock());
    file.Close();
    return offset;
}

} // namespace ferry
