#include "net/buffer.h"

#include "base/text.h"
#include "net/id_errors.h"

#include <algorithm>
#include <cstring>

namespace ferry {

void TIdBuffer::Write(const TIdBytes& bytes) {
    Write(bytes.data(), bytes.size());
}

void TIdBuffer::Write(const std::string& text) {
    Write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void TIdBuffer::Write(const uint8_t* data, size_t count) {
    if (count == 0)
        return;
    if (static_cast<int64_t>(Size_) + static_cast<int64_t>(count) > MaxSize)
        throw EIdTooMuchDataInBuffer();
    if (Size_ == 0) {
        Storage_.assign(data, data + count);
        Head_ = 0;
        Size_ = count;
        return;
    }
    Compact();
    if (Storage_.size() - Size_ < count)
        Storage_.resize(Size_ + count + GrowthStep);
    std::memcpy(Storage_.data() + Size_, data, count);
    Size_ += count;
}

void TIdBuffer::Compact() {
    if (Head_ == 0)
        return;
    std::memmove(Storage_.data(), Storage_.data() + Head_, Size_);
    Head_ = 0;
}

TIdBytes TIdBuffer::Extract(int count) {
    if (count < 0)
        count = static_cast<int>(Size_);
    if (static_cast<size_t>(count) > Size_)
        throw EIdNotEnoughDataInBuffer(
            Format("Not enough data in buffer. (%d/%d)", count, static_cast<int>(Size_)));
    TIdBytes out(Storage_.begin() + Head_, Storage_.begin() + Head_ + count);
    Head_ += count;
    Size_ -= count;
    if (Size_ == 0) {
        Clear();
    } else if (Head_ > GrowthStep) {
        Compact();
        if (Storage_.size() - Size_ > GrowthStep) {
            Storage_.resize(Size_ + GrowthStep);
            Storage_.shrink_to_fit();
        }
    }
    return out;
}

std::string TIdBuffer::ExtractToString(int count) {
    return BytesToString(Extract(count));
}

void TIdBuffer::Clear() {
    TIdBytes().swap(Storage_);
    Head_ = 0;
    Size_ = 0;
}

int TIdBuffer::IndexOf(const std::string& text, int startPos) const {
    return IndexOf(ToBytes(text), startPos);
}

int TIdBuffer::IndexOf(const TIdBytes& bytes, int startPos) const {
    if (bytes.empty())
        throw EIdException("Buffer terminator must be specified.");
    if (startPos < 0 || static_cast<size_t>(startPos) >= Size_)
        throw EIdException("Buffer start position is invalid.");
    auto begin = Storage_.begin() + Head_;
    auto end = begin + Size_;
    auto it = std::search(begin + startPos, end, bytes.begin(), bytes.end());
    return it == end ? -1 : static_cast<int>(it - begin);
}

} // namespace ferry
