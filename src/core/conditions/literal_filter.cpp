#include "core/conditions/literal_filter.h"

#include "platform/codepage.h"

#include <algorithm>
#include <map>

namespace ferry {

namespace {

// Below this share of positions passing, a few literals' rarest bytes beat sampling.
constexpr double kFewPasses = 1.0 / 500;

// The element with only its forms of the usual length (the commonest; the shortest among
// equals), and the others in `rare`.
LiteralElement UsualForms(const LiteralElement& e, std::vector<std::string>& rare) {
    std::map<std::size_t, std::size_t> lengths;
    for (const std::string& f : e.Forms)
        ++lengths[f.size()];
    const std::size_t usual =
        std::max_element(lengths.begin(), lengths.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->first;
    LiteralElement out;
    for (const std::string& f : e.Forms)
        (f.size() == usual ? out.Forms : rare).push_back(f);
    return out;
}

} // namespace

std::size_t LiteralFilter::Add(const std::vector<LiteralElement>& elements) {
    const auto literal = static_cast<uint32_t>(Count_++);
    for (const LiteralElement& e : elements)
        if (e.Forms.empty())
            return literal; // never occurs: never flagged
    if (elements.empty())
        return literal;
    Pending p{literal, elements, {}, {}};
    for (const LiteralElement& e : elements)
        p.Usual.push_back(UsualForms(e, p.Rare));
    Pending_.push_back(std::move(p));
    return literal;
}

void LiteralFilter::LeaveOut(const Pending& literal) {
    if (literal.Rare.empty())
        return;
    LeftOut_.push_back(literal.Number);
    // Their first two bytes say enough (the Kelvin sign's E2 84, the long s's C5 BF), and
    // one width keeps the look for them to one pass.
    for (const std::string& form : literal.Rare) {
        const std::string head = form.substr(0, 2);
        if (std::find(RareForms_.begin(), RareForms_.end(), head) == RareForms_.end()) {
            Rare_.Add(static_cast<uint32_t>(RareForms_.size()), ShapeBytes(head));
            RareForms_.push_back(head);
        }
    }
}

// One literal of single bytes that compare as the code page's case rule does (or exactly):
// the content matcher's search, with its two rarest bytes tested 32 positions at a time.
bool LiteralFilter::SealSingle(const Pending& literal) {
    const unsigned char* upper = CharUpperTable();
    std::string bytes;
    bool exact = true, folded = true;
    for (const LiteralElement& e : literal.Usual) {
        for (const std::string& f : e.Forms)
            if (f.size() != 1)
                return false;
        const auto first = static_cast<unsigned char>(e.Forms.front()[0]);
        bytes += static_cast<char>(first);
        exact = exact && e.Forms.size() == 1;
        std::size_t classSize = 0;
        for (int b = 0; b < 256; ++b)
            classSize += upper[b] == upper[first];
        bool same = classSize == e.Forms.size();
        for (const std::string& f : e.Forms)
            same = same && upper[static_cast<unsigned char>(f[0])] == upper[first];
        folded = folded && same;
    }
    if (!exact && !folded)
        return false;
    Single_ = std::make_unique<BytePattern>(bytes, exact);
    SingleNumber_ = literal.Number;
    LeaveOut(literal);
    return true;
}

void LiteralFilter::Seal() {
    CanOccur_ = Pending_.size();
    if (Pending_.size() == 1 && SealSingle(Pending_.front())) {
        Pending_.clear();
        return;
    }
    WindowFilter few;
    for (const Pending& p : Pending_)
        few.Add(p.Number, p.Elements);
    if (few.PassRate() < kFewPasses) {
        Windowed_ = std::move(few);
    } else {
        for (const Pending& p : Pending_) {
            if (Sampled_.Add(p.Number, p.Usual))
                LeaveOut(p);
            else
                Windowed_.Add(p.Number, p.Elements);
        }
        Sampled_.Seal();
    }
    Pending_.clear();
}

void LiteralFilter::Scan(const unsigned char* data, std::size_t size,
                         std::vector<unsigned char>& flags) const {
    std::size_t left = CanOccur_;
    if (!RareForms_.empty()) {
        std::vector<unsigned char> rare(RareForms_.size());
        std::size_t forms = RareForms_.size();
        Rare_.Scan(data, size, rare, forms);
        if (forms < RareForms_.size())
            for (uint32_t literal : LeftOut_)
                if (!flags[literal]) {
                    flags[literal] = 1;
                    --left;
                }
        if (left == 0)
            return;
    }
    if (Single_) {
        if (Single_->FindIn(data, size) != BytePattern::npos)
            flags[SingleNumber_] = 1;
        return;
    }
    if (Sampled_.Scan(data, size, flags, left))
        Windowed_.Scan(data, size, flags, left);
}

} // namespace ferry
