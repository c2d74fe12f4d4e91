#include "core/conditions/condition_terms.h"

namespace ferry {

std::string ConditionTerm::Text() const {
    std::string out;
    for (const std::string& word : Words) {
        if (!out.empty())
            out += ' ';
        out += word;
    }
    return Words.size() > 1 ? '"' + out + '"' : out;
}

std::vector<ConditionTerm> SplitTerms(std::string_view text, const TextReader& reader) {
    std::vector<ConditionTerm> terms;
    ConditionTerm term;
    std::string word;
    bool quoted = false;
    auto endWord = [&] {
        if (!word.empty())
            term.Words.push_back(std::move(word));
        word.clear();
    };
    auto endTerm = [&] {
        endWord();
        if (!term.Words.empty())
            terms.push_back(std::move(term));
        term = ConditionTerm();
    };
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        if (p[i] == '"') {
            endTerm();
            quoted = !quoted;
            ++i;
            continue;
        }
        if (const std::size_t space = reader.SpaceAt(p + i, text.size() - i)) {
            if (quoted)
                endWord();
            else
                endTerm();
            i += space;
            continue;
        }
        char32_t cp;
        const std::size_t length = reader.Decode(p + i, text.size() - i, cp);
        word.append(text.substr(i, length));
        i += length;
    }
    endTerm();
    return terms;
}

} // namespace ferry
