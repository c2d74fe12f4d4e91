#pragma once

// A word or phrase of a condition searched for in blocks of text: its first word found by
// the literal search, the others after white space, and whole words checked at both ends.
// Without whole words it is the match string as one piece of text, as a task has always
// matched it.

#include "core/conditions/condition_terms.h"
#include "core/conditions/literal_search.h"
#include "core/conditions/word_boundaries.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ferry {

// A block of a text: the text's first bytes when AtStart, its last when AtEnd.
struct TextBlock {
    const unsigned char* Data;
    std::size_t Size;
    bool AtStart;
    bool AtEnd;
};

struct TermFound {
    std::size_t Start, End; // in the block
};

class TermSearch {
public:
    // White space between two words of a phrase may run to this many bytes (blank lines,
    // indentation); a longer gap parts the phrase.
    static constexpr std::size_t MaxGap = 256;

    // `reader` must outlive the search.
    TermSearch(ConditionTerm term, const TextReader& reader, bool caseSensitive, bool wholeWords);

    const ConditionTerm& Term() const { return Term_; }
    bool Never() const { return Never_; }
    // The word the filter looks for: the longest, as the one likeliest to be rare.
    const std::string& AnchorWord() const;
    // Bytes each block must repeat of the previous one for the search to miss nothing.
    std::size_t Overlap() const;

    // The first occurrence that this block decides. Whole words: one that starts within the
    // first WordBoundaries::Context bytes of a block that does not begin the text was decided
    // by the previous block, and one that may reach into the last Overlap() - Context bytes
    // of a block that does not end the text is left to the next.
    std::optional<TermFound> FindIn(const TextBlock& block) const;

private:
    std::optional<std::size_t> EndAt(const TextBlock& block, std::size_t start,
                                     std::size_t firstLength) const;

    ConditionTerm Term_;
    const TextReader& Reader_;
    WordBoundaries Boundaries_;
    bool WholeWords_;
    bool Never_ = false;
    std::vector<std::unique_ptr<LiteralSearch>> Words_;
    std::size_t MaxLength_ = 0;
    std::size_t Anchor_ = 0;
};

} // namespace ferry
