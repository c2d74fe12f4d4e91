#pragma once

// The connection's byte queue.

#include "net/id_global.h"

#include <cstdint>
#include <string>

namespace ferry {

// First-in, first-out byte queue: one storage block, the offset of the first unconsumed byte
// and the number of queued bytes. Storage grows and shrinks in steps of 2048 bytes beyond what
// is needed, so a stream of small appends and takes does not reallocate each time.
class TIdBuffer {
public:
    static constexpr int64_t MaxSize = 2147483647;
    static constexpr size_t GrowthStep = 2048;

    int Size() const { return static_cast<int>(Size_); }
    bool IsEmpty() const { return Size_ == 0; }
    // Bytes of storage currently held (queued bytes plus spare room).
    size_t StorageSize() const { return Storage_.size(); }

    void Write(const TIdBytes& bytes);
    void Write(const uint8_t* data, size_t count);
    void Write(const std::string& text);

    // Takes count bytes from the front; -1 takes everything.
    TIdBytes Extract(int count = -1);
    std::string ExtractToString(int count = -1);
    void Clear();

    // Offset from the front of the first occurrence of bytes at or after startPos, or -1.
    int IndexOf(const TIdBytes& bytes, int startPos = 0) const;
    int IndexOf(const std::string& text, int startPos = 0) const;

private:
    void Compact();

    TIdBytes Storage_;
    size_t Head_ = 0;
    size_t Size_ = 0;
};

} // namespace ferry
