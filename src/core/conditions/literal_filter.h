#pragma once

// Tells, in one pass over a block, which of many literals may occur in it: the words,
// phrases and match strings of all the tasks on one folder, and the pieces of text their
// regular expressions require. Each literal is represented by a window of up to three
// consecutive bytes chosen where its bytes are rarest; the block is tested 32 positions at
// a time for bytes of any literal's window, and the few positions that pass are looked up
// among the windows themselves. A literal that occurs is always flagged; one flagged may
// not occur (its window did), and the caller's exact search decides.

#include "core/conditions/literal_shape.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferry {

class LiteralFilter {
public:
    // Adds a literal by the forms of its characters; returns its number (0, 1, ...).
    std::size_t Add(const std::vector<LiteralElement>& elements);
    std::size_t Count() const { return Count_; }

    // Sets flags[i] to 1 for every literal i whose window occurs in data[0, size), and stops
    // early once every literal that can occur is flagged. `flags` is sized by the caller to
    // Count() and cleared by it.
    void Scan(const unsigned char* data, std::size_t size, std::vector<unsigned char>& flags) const;

private:
    using ByteSet = std::array<uint64_t, 4>;

    // The literals whose windows have one width, with the bytes each window position takes
    // across all of them, and the windows themselves (a key of their bytes).
    struct Slot {
        uint32_t Key;
        std::vector<uint32_t> Literals;
    };
    struct Group {
        std::size_t Width = 0;
        std::array<ByteSet, 3> Union{};
        std::vector<Slot> Slots; // open addressing by key; an empty list marks a free slot
        std::size_t Used = 0;
    };

    void Insert(Group& group, uint32_t key, uint32_t literal);
    static const Slot* Find(const Group& group, uint32_t key);
    bool ScanGroup(const Group& group, const unsigned char* data, std::size_t size,
                   std::vector<unsigned char>& flags, std::size_t& left) const;

    std::array<Group, 3> Groups_; // windows of 1, 2 and 3 bytes
    std::size_t Count_ = 0;
    std::size_t CanOccur_ = 0;
};

// Tests only: false keeps the scan to its plain loop where 32-byte vectors exist.
void AllowFilterVectorsForTesting(bool allow);

} // namespace ferry
