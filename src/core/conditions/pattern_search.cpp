#include "core/conditions/pattern_search.h"

#include <re2/filtered_re2.h>
#include <re2/re2.h>

namespace ferry {

namespace {

// Atoms shorter than this say too little to be worth looking for; a pattern left without
// any is run on every block.
constexpr int kMinRequiredLength = 3;
constexpr std::size_t kShownText = 80;

bool Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Past the subject's first character, and back to the start of its last.
std::size_t AfterFirst(const std::string_view s) {
    std::size_t i = s.empty() ? 0 : 1;
    while (i < s.size() && i < 4 && Continuation(s[i]))
        ++i;
    return i;
}

std::size_t StartOfLast(const std::string_view s) {
    if (s.empty())
        return 0;
    std::size_t i = s.size() - 1;
    while (i > 0 && s.size() - i < 4 && Continuation(s[i]))
        --i;
    return i;
}

bool Ascii(const unsigned char* p, std::size_t n) {
    unsigned char any = 0;
    for (std::size_t i = 0; i < n; ++i)
        any |= p[i];
    return any < 0x80;
}

} // namespace

PatternSearch::PatternSearch(const std::string& pattern, const TextReader& reader,
                             bool caseSensitive)
    : Reader_(reader) {
    const std::string utf8 = reader.ToUtf8(pattern);
    RE2::Options options;
    options.set_log_errors(false);
    options.set_case_sensitive(caseSensitive);
    Filter_ = std::make_unique<re2::FilteredRE2>(kMinRequiredLength);
    int id = 0;
    if (Filter_->Add("(?m)" + utf8, options, &id) != RE2::NoError) {
        // Compiled again as written, so that the message quotes the pattern as the user
        // gave it.
        const RE2 check(utf8, options);
        Error_ = check.ok() ? "the pattern cannot be compiled" : check.error();
        Filter_.reset();
        return;
    }
    Filter_->Compile(&Required_);
    std::vector<int> potential;
    Filter_->AllPotentials({}, &potential);
    WithoutRequired_ = !potential.empty();
}

PatternSearch::~PatternSearch() = default;

bool PatternSearch::MayMatch(const std::vector<int>& present) const {
    if (!Filter_)
        return false;
    // Most blocks hold none of the required texts: that answer is the pattern's own.
    if (present.empty())
        return WithoutRequired_;
    std::vector<int> potential;
    Filter_->AllPotentials(present, &potential);
    return !potential.empty();
}

std::optional<TermFound> PatternSearch::FindIn(const TextBlock& block, std::string* text) const {
    if (!Filter_ || block.Size == 0)
        return std::nullopt;
    const auto* raw = reinterpret_cast<const char*>(block.Data);
    // The expression reads characters: an 8-bit block goes to it as UTF-8, unless it is
    // ASCII throughout and so the same either way.
    std::string decoded;
    std::string_view subject(raw, block.Size);
    const bool convert = !Reader_.Utf8() && !Ascii(block.Data, block.Size);
    if (convert) {
        decoded = Reader_.ToUtf8(subject);
        subject = decoded;
    }
    const std::size_t from = block.AtStart ? 0 : AfterFirst(subject);
    const std::size_t to = block.AtEnd ? subject.size() : StartOfLast(subject);
    if (from > to)
        return std::nullopt;
    re2::StringPiece match;
    if (!Filter_->GetRE2(0).Match(re2::StringPiece(subject.data(), subject.size()), from, to,
                                  RE2::UNANCHORED, &match, 1))
        return std::nullopt;
    std::size_t start = static_cast<std::size_t>(match.data() - subject.data());
    std::size_t end = start + match.size();
    if (text) {
        std::size_t shown = std::min(match.size(), kShownText);
        while (shown < match.size() && shown > 0 && Continuation(match[shown]))
            --shown;
        text->assign(match.data(), shown);
    }
    if (convert) {
        // One character of the block for each of the subject's.
        auto chars = [&](std::size_t upTo) {
            std::size_t n = 0;
            for (std::size_t i = 0; i < upTo; ++i)
                n += !Continuation(subject[i]);
            return n;
        };
        auto bytes = [&](std::size_t count) {
            std::size_t at = 0;
            for (char32_t cp; count > 0 && at < block.Size; --count)
                at += Reader_.Decode(block.Data + at, block.Size - at, cp);
            return at;
        };
        const std::size_t first = chars(start), last = chars(end);
        start = bytes(first);
        end = bytes(last);
    }
    return TermFound{start, end};
}

} // namespace ferry
