#pragma once

// A task's regular expression searched for in blocks of text. RE2 runs it in time linear in
// the text whatever the pattern, so no file can stall a pass. Lines end at line feeds (^ and
// $ match at them, . does not cross them), as in grep; the case rule applies unless the
// pattern sets its own ((?i), (?-i)). In an 8-bit code page the text is given to it as the
// characters the code page spells. The pieces of text every match must hold (RE2's
// FilteredRE2 finds them) let a block where none of them occurs go without running it.
//
// A match of up to MaxMatchLength bytes is found wherever it lies; a longer one only where
// it falls within one block.

#include "core/conditions/term_search.h"
#include "core/conditions/text_reader.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace re2 {
class FilteredRE2;
}

namespace ferry {

class PatternSearch {
public:
    static constexpr std::size_t MaxMatchLength = 4096;

    // `pattern` in the reader's code page; `reader` must outlive the search.
    PatternSearch(const std::string& pattern, const TextReader& reader, bool caseSensitive);
    ~PatternSearch();

    // Empty when the pattern compiled; otherwise the library's message.
    const std::string& Error() const { return Error_; }
    std::size_t Overlap() const { return MaxMatchLength + 8; }

    // Texts a match must hold (UTF-8, lower case, to be looked for without regard to case:
    // see ShapeRequiredText); a block without the needed combinations of them is not
    // searched (see MayMatch).
    const std::vector<std::string>& RequiredTexts() const { return Required_; }
    // Whether a block where the required texts `present` (indices into RequiredTexts) may
    // occur can hold a match.
    bool MayMatch(const std::vector<int>& present) const;

    // The first match this block decides: one that starts within the block's first
    // character when it does not begin the text, or that reaches its last character when it
    // does not end the text, belongs to the neighbouring block. Found: its bytes in the
    // block, and `text` the matched text (UTF-8, at most 80 bytes).
    std::optional<TermFound> FindIn(const TextBlock& block, std::string* text = nullptr) const;

private:
    const TextReader& Reader_;
    std::string Error_;
    std::unique_ptr<re2::FilteredRE2> Filter_;
    std::vector<std::string> Required_;
    bool WithoutRequired_ = false; // whether a block without any required text may match
};

} // namespace ferry
