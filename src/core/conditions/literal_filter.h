#pragma once

// Tells, in one pass over a block, which of many literals may occur in it: the words,
// phrases and match strings of all the tasks on one folder, and the pieces of text their
// regular expressions require. A literal that occurs is always flagged; one flagged may not
// occur, and the caller's exact search decides.
//
// One literal alone is looked for by the content matcher's own search where its case rule
// is the code page's; a few, by the rarest bytes of each (WindowFilter); many, by sampling
// those with seven bytes of fixed shape in a row (SampleFilter) and the rarest bytes of the
// rest. A character whose case forms differ in length (k and the Kelvin sign, s and the long
// s in UTF-8) is given to the first and last of these by its forms of the usual length; the
// rare forms are looked for on their own, and a block that holds one flags every literal
// that left them out.

#include "core/byte_search.h"
#include "core/conditions/literal_shape.h"
#include "core/conditions/sample_filter.h"
#include "core/conditions/window_filter.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace ferry {

class LiteralFilter {
public:
    // Adds a literal by the forms of its characters; returns its number (0, 1, ...).
    std::size_t Add(const std::vector<LiteralElement>& elements);
    // Chooses the ways and prepares them; after the last Add, before the first Scan.
    void Seal();
    std::size_t Count() const { return Count_; }

    // Sets flags[i] to 1 for every literal i that may occur in data[0, size), and stops
    // early once every literal that can occur is flagged. `flags` is sized by the caller to
    // Count() and cleared by it.
    void Scan(const unsigned char* data, std::size_t size, std::vector<unsigned char>& flags) const;

private:
    struct Pending {
        uint32_t Number;
        std::vector<LiteralElement> Elements, Usual;
        std::vector<std::string> Rare;
    };

    bool SealSingle(const Pending& literal);
    void LeaveOut(const Pending& literal);

    std::vector<Pending> Pending_;
    std::size_t Count_ = 0;
    std::size_t CanOccur_ = 0;
    std::unique_ptr<BytePattern> Single_;
    uint32_t SingleNumber_ = 0;
    SampleFilter Sampled_;
    WindowFilter Windowed_;
    // The rare forms left out, and the literals that left them out.
    WindowFilter Rare_;
    std::vector<std::string> RareForms_;
    std::vector<uint32_t> LeftOut_;
};

} // namespace ferry
