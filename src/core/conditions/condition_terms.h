#pragma once

// The words of a condition ("any of these words", the words that keep a file out): words
// separated by white space, and "quoted phrases" that stay one term.

#include "core/conditions/text_reader.h"

#include <string>
#include <string_view>
#include <vector>

namespace ferry {

// One word, or the words of one phrase in order.
struct ConditionTerm {
    std::vector<std::string> Words;

    // As a person would type it: the word, or the phrase in quotes.
    std::string Text() const;
    bool operator==(const ConditionTerm&) const = default;
};

// White space (Unicode's) separates terms. A double quote opens or closes a phrase, in which
// white space separates its words instead; a quote also ends the word before it, so
// ab"c d"e is three terms: ab, "c d" and e (no bytes on either side of a quote ever join
// into one character). A quote left open runs to the end of the text, so `say "ACME Ltd`
// asks for "say" and "ACME Ltd". Terms without words ("", "  ") are dropped.
std::vector<ConditionTerm> SplitTerms(std::string_view text, const TextReader& reader);

} // namespace ferry
