#include "core/conditions/condition_set.h"

#include "core/conditions/literal_shape.h"

#include <algorithm>

namespace ferry {

ParsedConditions ParseConditions(const TaskConditions& conditions, const TextReader& reader) {
    ParsedConditions parsed;
    parsed.Kind = conditions.Kind;
    parsed.Excluded = SplitTerms(conditions.ExcludeString, reader);
    const std::string& match = conditions.MatchString;
    switch (conditions.Kind) {
    case MatchKind::Text:
        if (match.empty())
            parsed.Problem = "the match string is empty";
        else
            parsed.Wanted.push_back(ConditionTerm{{match}});
        break;
    case MatchKind::AnyWord:
    case MatchKind::AllWords:
        parsed.Wanted = SplitTerms(match, reader);
        break;
    case MatchKind::Phrase: {
        ConditionTerm phrase;
        for (ConditionTerm& term : SplitTerms(match, reader))
            for (std::string& word : term.Words)
                phrase.Words.push_back(std::move(word));
        if (!phrase.Words.empty())
            parsed.Wanted.push_back(std::move(phrase));
        break;
    }
    case MatchKind::Pattern:
        parsed.Pattern = match;
        if (match.empty())
            parsed.Problem = "the match string is empty";
        break;
    default:
        parsed.Problem =
            "unknown match kind " + std::to_string(static_cast<uint32_t>(conditions.Kind));
        return parsed;
    }
    if (parsed.Problem.empty() && parsed.Kind != MatchKind::Pattern && parsed.Wanted.empty())
        parsed.Problem = "the match string holds no words";
    return parsed;
}

ConditionSet::ConditionSet(const std::vector<ParsedConditions>& tasks, const CodePage& page,
                           bool caseSensitive)
    : Reader_(std::make_unique<TextReader>(page)),
      System_(std::make_unique<TextReader>(SystemCodePage())),
      UpperCase_(page.IsMultiByte() && !caseSensitive) {
    const bool convert = page.IsUtf8() != SystemCodePage().IsUtf8();
    for (const ParsedConditions& task : tasks) {
        Plan plan;
        plan.Problem = task.Problem;
        if (plan.Problem.empty()) {
            const bool whole = task.Kind != MatchKind::Text;
            for (const ConditionTerm& term : task.Wanted)
                plan.Wanted.push_back(AddTerm(term, whole, caseSensitive, convert));
            for (const ConditionTerm& term : task.Excluded)
                plan.Excluded.push_back(AddTerm(term, true, caseSensitive, convert));
            if (task.Kind == MatchKind::Pattern) {
                // Patterns are few and each has its own case rule: not shared.
                auto search = std::make_unique<PatternSearch>(
                    convert ? System_->ToUtf8(task.Pattern) : task.Pattern, *Reader_,
                    caseSensitive);
                if (!search->Error().empty()) {
                    plan.Problem = "the regular expression is not valid: " + search->Error();
                } else {
                    plan.Pattern = Patterns_.size();
                    Overlap_ = std::max(Overlap_, search->Overlap());
                    const auto& required = search->RequiredTexts();
                    for (std::size_t i = 0; FiltersPatterns() && i < required.size(); ++i) {
                        const std::size_t literal =
                            AddLiteral('r' + required[i], ShapeRequiredText(required[i], *Reader_));
                        RequiredOf_[literal].emplace_back(plan.Pattern, static_cast<int>(i));
                    }
                    Patterns_.push_back(std::move(search));
                }
            }
        }
        Plans_.push_back(std::move(plan));
    }
    Filter_.Seal();
}

std::size_t ConditionSet::AddTerm(const ConditionTerm& shown, bool wholeWords, bool caseSensitive,
                                  bool convert) {
    ConditionTerm term = shown;
    if (convert)
        for (std::string& word : term.Words)
            word = System_->ToUtf8(word);
    std::string key(1, wholeWords ? 'w' : 't');
    for (const std::string& word : term.Words)
        key += word + '\0';
    if (auto it = TermKeys_.find(key); it != TermKeys_.end())
        return it->second;
    auto search = std::make_unique<TermSearch>(term, *Reader_, caseSensitive, wholeWords);
    const std::size_t n = Terms_.size();
    TermKeys_.emplace(std::move(key), n);
    if (!search->Never()) {
        Overlap_ = std::max(Overlap_, search->Overlap());
        const std::string& anchor = search->AnchorWord();
        const std::size_t literal =
            AddLiteral("w" + anchor, ShapeLiteral(anchor, *Reader_, caseSensitive));
        TermsOf_[literal].push_back(n);
    }
    Terms_.push_back(std::move(search));
    return n;
}

std::size_t ConditionSet::AddLiteral(const std::string& key,
                                     const std::vector<LiteralElement>& elements) {
    if (auto it = LiteralKeys_.find(key); it != LiteralKeys_.end())
        return it->second;
    const std::size_t literal = Filter_.Add(elements);
    LiteralKeys_.emplace(key, literal);
    TermsOf_.emplace_back();
    RequiredOf_.emplace_back();
    return literal;
}

} // namespace ferry
