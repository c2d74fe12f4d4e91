#pragma once

// Reads a file front to back in blocks for the condition matchers. Each block keeps the last
// bytes of the one before (as many as the matchers need to see an occurrence across the
// border whole), so no byte is read twice from the file.

#include "core/conditions/term_search.h"
#include "core/content_matcher.h"

#include <cstddef>
#include <cstdint>

namespace ferry {

class BlockReader {
public:
    // New bytes per block: larger than the content matcher's blocks, so that most files
    // take one read.
    static constexpr std::size_t BlockSize = 4 * ScanBlockSize;

    // `buffer` holds Capacity(overlap) bytes; its first `ready` bytes may already hold the
    // file's first bytes (an open that reads them), the source then standing after them.
    // Blocks begin on character boundaries of `reader`'s code page (then repeating a few
    // bytes more than `overlap`).
    BlockReader(ScanSource& source, std::size_t overlap, unsigned char* buffer,
                const TextReader& reader, std::size_t ready = 0);

    static std::size_t Capacity(std::size_t overlap) { return overlap + BlockSize; }

    // The next block and the file offset of its first byte; false after the last.
    bool Next(TextBlock& block, int64_t& offset);

private:
    ScanSource& Source_;
    const TextReader& Reader_;
    std::size_t Overlap_;
    unsigned char* Buffer_;
    std::size_t Ready_;
    int64_t Size_;
    int64_t Start_ = 0;
    std::size_t Filled_ = 0;
    bool First_ = true;
    bool Done_ = false;
};

} // namespace ferry
