#include "core/conditions/term_search.h"

namespace ferry {

TermSearch::TermSearch(ConditionTerm term, const TextReader& reader, bool caseSensitive,
                       bool wholeWords)
    : Term_(std::move(term)), Reader_(reader), Boundaries_(reader), WholeWords_(wholeWords) {
    for (std::size_t i = 0; i < Term_.Words.size(); ++i) {
        Words_.push_back(std::make_unique<LiteralSearch>(Term_.Words[i], reader, caseSensitive));
        Never_ = Never_ || Words_.back()->Never();
        MaxLength_ += Words_.back()->MaxLength() + (i > 0 ? MaxGap : 0);
        if (Term_.Words[i].size() > Term_.Words[Anchor_].size())
            Anchor_ = i;
    }
    Never_ = Never_ || Words_.empty();
}

const std::string& TermSearch::AnchorWord() const {
    return Term_.Words[Anchor_];
}

std::size_t TermSearch::Overlap() const {
    if (!WholeWords_)
        return Words_.empty() ? 0 : Words_.front()->Overlap();
    return MaxLength_ + 2 * WordBoundaries::Context;
}

std::optional<std::size_t> TermSearch::EndAt(const TextBlock& block, std::size_t start,
                                             std::size_t firstLength) const {
    std::size_t pos = start + firstLength;
    for (std::size_t i = 1; i < Words_.size(); ++i) {
        std::size_t gap = 0;
        while (gap <= MaxGap) {
            const std::size_t space = Reader_.SpaceAt(block.Data + pos, block.Size - pos);
            if (space == 0)
                break;
            pos += space;
            gap += space;
        }
        if (gap == 0 || gap > MaxGap)
            return std::nullopt;
        const std::size_t length = Words_[i]->LengthAt(block.Data, block.Size, pos);
        if (length == 0)
            return std::nullopt;
        pos += length;
    }
    return pos;
}

std::optional<TermFound> TermSearch::FindIn(const TextBlock& block) const {
    if (Never_)
        return std::nullopt;
    const LiteralSearch& first = *Words_.front();
    if (!WholeWords_) {
        const std::size_t at = first.FindIn(block.Data, block.Size, 0, block.AtStart, block.AtEnd);
        if (at == LiteralSearch::npos)
            return std::nullopt;
        return TermFound{at, at + first.LengthAt(block.Data, block.Size, at)};
    }
    const std::size_t context = WordBoundaries::Context;
    // Candidates from here on may need bytes past the block: the next block decides them.
    const std::size_t decidable =
        block.AtEnd ? block.Size
                    : (block.Size > MaxLength_ + context ? block.Size - MaxLength_ - context : 0);
    std::size_t from =
        block.AtStart ? 0
                      : Reader_.NextBoundary(block.Data, block.Size, std::min(context, block.Size));
    while (from < decidable) {
        const std::size_t at = first.FindIn(block.Data, block.Size, from, true, block.AtEnd);
        if (at == LiteralSearch::npos || at >= decidable)
            return std::nullopt;
        char32_t cp;
        from = at + std::max<std::size_t>(1, Reader_.Decode(block.Data + at, block.Size - at, cp));
        const std::size_t length = first.LengthAt(block.Data, block.Size, at);
        if (length == 0)
            continue;
        const std::optional<std::size_t> end = EndAt(block, at, length);
        if (end && Boundaries_.At(block.Data, block.Size, at) &&
            Boundaries_.At(block.Data, block.Size, *end))
            return TermFound{at, *end};
    }
    return std::nullopt;
}

} // namespace ferry
