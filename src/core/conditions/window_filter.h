#pragma once

// The literal filter's way for short literals: each literal is represented by a window of up
// to three consecutive bytes chosen where its bytes are rarest; a block is tested 32
// positions at a time for bytes of any literal's window, and the positions that pass are
// looked up among the windows themselves. Cheap while the windows are few: the bytes of many
// windows together pass at too many positions.

#include "core/conditions/literal_shape.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferry {

class WindowFilter {
public:
    // Adds literal number `literal`; every element must have forms.
    void Add(uint32_t literal, const std::vector<LiteralElement>& elements);

    // Flags the literals whose windows occur in data[0, size), counting `left` down; false
    // once it reaches 0 (nothing is left to flag).
    bool Scan(const unsigned char* data, std::size_t size, std::vector<unsigned char>& flags,
              std::size_t& left) const;

    // Roughly the share of positions of ordinary files at which some window's bytes pass:
    // what the scan costs beyond its vector loop.
    double PassRate() const;

private:
    using ByteSet = std::array<uint64_t, 4>;

    struct Slot {
        uint32_t Key;
        std::vector<uint32_t> Literals;
    };
    // The windows of one width, with the bytes each position takes across all of them.
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
};

// Tests only: false keeps the filters to their plain loops where 32-byte vectors exist.
void AllowFilterVectorsForTesting(bool allow);
// Whether the filters may use 32-byte vectors here.
bool FilterVectors();

} // namespace ferry
