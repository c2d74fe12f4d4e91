#pragma once

// The literal filter's way for literals with seven or more bytes of fixed shape in a row:
// each such literal puts four consecutive four-byte grams of that run (where its bytes are
// rarest) in a table, and a block is sampled only every fourth position, where the four
// bytes starting there are looked up. An occurrence holds four consecutive positions at
// which one of its grams starts, so one sample lands on it; a hit is then checked against
// the whole literal where its characters have one length. Letter case is taken out of both
// sides by one mapping of bytes that every literal's case rule agrees with. Sampling keeps
// the cost per byte low however many literals there are.

#include "core/conditions/literal_shape.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferry {

class SampleFilter {
public:
    // Takes literal number `literal` when it has a long enough run; false when it does not.
    bool Add(uint32_t literal, const std::vector<LiteralElement>& elements);
    // Builds the tables; after the last Add, before the first Scan.
    void Seal();

    // Flags the literals that may occur in data[0, size), counting `left` down; false once
    // it reaches 0.
    bool Scan(const unsigned char* data, std::size_t size, std::vector<unsigned char>& flags,
              std::size_t& left) const;

private:
    using ByteSet = std::array<uint64_t, 4>;
    enum class Fold { Same, Bit5, Table };

    struct Literal {
        uint32_t Number;
        std::vector<ByteSet> Run; // the bytes each position of its longest run takes
        std::size_t RunStart;     // where the run starts in the literal, when Whole is set
        // The bytes of every position, when all its characters have forms of one length.
        std::vector<ByteSet> Whole;
    };
    struct Entry {
        uint32_t Key;     // the gram after folding
        uint32_t Literal; // index into Literals_
        uint32_t Offset;  // of the gram from the literal's start (when Whole is set)
    };

    uint32_t FoldGram(uint32_t gram) const;
    bool Occurs(const Entry& entry, const unsigned char* data, std::size_t size,
                std::size_t q) const;
    // Flags what the gram at q stands for; false once nothing is left to flag.
    bool Hit(uint32_t key, const unsigned char* data, std::size_t size, std::size_t q,
             std::vector<unsigned char>& flags, std::size_t& left) const;

    std::vector<Literal> Literals_;
    std::vector<uint32_t> Bits_; // hashed grams
    std::vector<Entry> Entries_; // sorted by key
    Fold Fold_ = Fold::Same;
    std::array<unsigned char, 256> Table_{};
};

} // namespace ferry
