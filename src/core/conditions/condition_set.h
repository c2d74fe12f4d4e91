#pragma once

// The conditions of the tasks on one folder, ready to be matched against one kind of text
// (a file's bytes in the system code page, or document text in UTF-8): each distinct word,
// phrase and match string once, each regular expression, and one literal filter over all
// of them, so that a block is scanned once for every task.

#include "core/conditions/condition_terms.h"
#include "core/conditions/literal_filter.h"
#include "core/conditions/pattern_search.h"
#include "core/conditions/task_conditions.h"
#include "core/conditions/term_search.h"

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace ferry {

// One task's conditions as words and patterns, in the system code page.
struct ParsedConditions {
    MatchKind Kind = MatchKind::Text;
    // What must be found: the match string as one term (Text), its terms (AnyWord,
    // AllWords), its words as one phrase (Phrase); none for Pattern.
    std::vector<ConditionTerm> Wanted;
    std::vector<ConditionTerm> Excluded;
    std::string Pattern;
    // Why the task can take no file ("the match string is empty"), or empty.
    std::string Problem;
};

ParsedConditions ParseConditions(const TaskConditions& conditions, const TextReader& reader);

class ConditionSet {
public:
    static constexpr std::size_t None = static_cast<std::size_t>(-1);

    struct Plan {
        std::vector<std::size_t> Wanted;   // numbers of TermSearches
        std::vector<std::size_t> Excluded; // likewise
        std::size_t Pattern = None;        // number of a PatternSearch
        std::string Problem;               // as parsed, or the pattern's error
    };

    // `page`: the code page of the text matched; the parsed texts are in the system code
    // page and are converted when the two differ.
    ConditionSet(const std::vector<ParsedConditions>& tasks, const CodePage& page,
                 bool caseSensitive);
    ConditionSet(const ConditionSet&) = delete;
    ConditionSet& operator=(const ConditionSet&) = delete;

    const TextReader& Reader() const { return *Reader_; }
    const std::vector<Plan>& Plans() const { return Plans_; }
    const TermSearch& Term(std::size_t n) const { return *Terms_[n]; }
    std::size_t TermCount() const { return Terms_.size(); }
    const PatternSearch& Pattern(std::size_t n) const { return *Patterns_[n]; }
    std::size_t PatternCount() const { return Patterns_.size(); }
    // Bytes each block must repeat of the one before, for every search here.
    std::size_t Overlap() const { return Overlap_; }
    // The filter looks at the text's upper case (a multi-byte code page without regard to
    // case), and whether it looks for the texts that patterns require (not in a multi-byte
    // code page: patterns then run on every block).
    bool FiltersUpperCase() const { return UpperCase_; }
    bool FiltersPatterns() const { return !Reader_->MultiByte(); }

    const LiteralFilter& Filter() const { return Filter_; }
    // What a flagged literal stands for: the terms anchored on it, and the (pattern,
    // required text) pairs it is.
    const std::vector<std::size_t>& TermsOf(std::size_t literal) const { return TermsOf_[literal]; }
    const std::vector<std::pair<std::size_t, int>>& RequiredOf(std::size_t literal) const {
        return RequiredOf_[literal];
    }

private:
    std::size_t AddTerm(const ConditionTerm& shown, bool wholeWords, bool caseSensitive,
                        bool convert);
    std::size_t AddLiteral(const std::string& key, const std::vector<LiteralElement>& elements);

    std::unique_ptr<TextReader> Reader_;
    std::unique_ptr<TextReader> System_; // the code page the tasks' texts are written in
    std::vector<Plan> Plans_;
    std::vector<std::unique_ptr<TermSearch>> Terms_;
    std::unordered_map<std::string, std::size_t> TermKeys_;
    std::vector<std::unique_ptr<PatternSearch>> Patterns_;
    LiteralFilter Filter_;
    std::unordered_map<std::string, std::size_t> LiteralKeys_;
    std::vector<std::vector<std::size_t>> TermsOf_;
    std::vector<std::vector<std::pair<std::size_t, int>>> RequiredOf_;
    std::size_t Overlap_ = 0;
    bool UpperCase_ = false;
};

} // namespace ferry
