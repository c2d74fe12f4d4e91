#pragma once

// The file names a task takes: patterns separated by ';' ("*.pdf;*.docx;scan-??.png"), '*'
// for any run of characters, '?' for exactly one, every other character compared without
// regard to case (Unicode's simple case folding of the character the code page gives).

#include "core/conditions/text_reader.h"

#include <string>
#include <string_view>
#include <vector>

namespace ferry {

class NamePatterns {
public:
    // White space around each pattern is dropped, and so are empty patterns; none left (an
    // absent or empty value) takes every name. "*.*" takes every name, dot or not, as the
    // folder listing's mask does.
    NamePatterns(std::string_view text, const TextReader& reader);

    bool TakesEveryName() const { return Patterns_.empty(); }
    bool Matches(std::string_view name) const;

private:
    std::u32string Fold(std::string_view text) const;

    TextReader Reader_;
    std::vector<std::u32string> Patterns_; // folded characters; '*' and '?' as they are
};

} // namespace ferry
