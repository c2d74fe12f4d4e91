// The word splitter of task conditions: no term or word comes out empty, no word holds white
// space or a quote, and writing the terms out again (phrases in quotes) gives them back.
//
// Input: one byte choosing the code page (odd: UTF-8, even: Windows-1252), then the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/conditions/condition_terms.h"

using namespace ferry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const TextReader reader(data[0] & 1 ? CodePage::Utf8() : CodePage::Windows1252());
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::vector<ConditionTerm> terms = SplitTerms(text, reader);
    std::string again;
    for (const ConditionTerm& term : terms) {
        if (term.Words.empty())
            std::abort();
        for (const std::string& word : term.Words) {
            if (word.empty() || word.find('"') != std::string::npos)
                std::abort();
            const auto* p = reinterpret_cast<const unsigned char*>(word.data());
            for (std::size_t i = 0; i < word.size();) {
                if (reader.SpaceAt(p + i, word.size() - i))
                    std::abort();
                char32_t cp;
                i += reader.Decode(p + i, word.size() - i, cp);
            }
        }
        again += (again.empty() ? "" : " ") + term.Text();
    }
    if (SplitTerms(again, reader) != terms)
        std::abort();
    return 0;
}
