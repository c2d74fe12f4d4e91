#pragma once

// Whether a position of a text lies on a word boundary by Unicode's rules (ICU's word break
// iterator: letters, digits, apostrophes and the like inside words, dictionary words in
// scripts written without spaces), decided from the text around it.

#include "core/conditions/text_reader.h"

#include <cstddef>

namespace ferry {

class WordBoundaries {
public:
    // Bytes either side of a position that its decision looks at. Where the text goes on
    // past the data given, callers must give this much.
    static constexpr std::size_t Context = 32;

    explicit WordBoundaries(const TextReader& reader) : Reader_(reader) {}

    // data[0, size) holds the position and its context; the start and end of the data are
    // taken as the text's own.
    bool At(const unsigned char* data, std::size_t size, std::size_t pos) const;

private:
    const TextReader& Reader_;
};

} // namespace ferry
