#include "core/conditions/block_reader.h"

#include <algorithm>
#include <cstring>

namespace ferry {

BlockReader::BlockReader(ScanSource& source, std::size_t overlap, unsigned char* buffer,
                         const TextReader& reader, std::size_t ready)
    : Source_(source), Reader_(reader), Overlap_(overlap), Buffer_(buffer), Ready_(ready),
      Size_(source.Size()) {}

bool BlockReader::Next(TextBlock& block, int64_t& offset) {
    if (Done_)
        return false;
    std::size_t wanted, got;
    if (First_) {
        First_ = false;
        wanted = static_cast<std::size_t>(std::min<int64_t>(BlockSize, Size_));
        got = Ready_ ? Ready_ : (wanted ? Source_.Read(Buffer_, wanted) : 0);
        Filled_ = got;
    } else {
        const std::size_t keep =
            Filled_ - Reader_.LastBoundary(Buffer_, Filled_, Filled_ - std::min(Overlap_, Filled_));
        std::memmove(Buffer_, Buffer_ + Filled_ - keep, keep);
        Start_ += static_cast<int64_t>(Filled_ - keep);
        const int64_t next = Start_ + static_cast<int64_t>(keep);
        wanted = static_cast<std::size_t>(std::min<int64_t>(BlockSize, Size_ - next));
        got = Source_.Read(Buffer_ + keep, wanted);
        Filled_ = keep + got;
    }
    // A short read means the file was cut while we read it: what is there is the text.
    Done_ = got < wanted || Start_ + static_cast<int64_t>(Filled_) >= Size_;
    // A block that brings nothing new still ends the text: what the one before left to its
    // successor is decided now.
    if (Filled_ == 0)
        return false;
    block = TextBlock{Buffer_, Filled_, Start_ == 0, Done_};
    offset = Start_;
    return true;
}

} // namespace ferry
