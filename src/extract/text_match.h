#pragma once

// A task's match string looked for in a document's text. The string is held in the system
// code page; the text is UTF-8, so the string is converted and normalised as the text was.
// Case-insensitive matching folds by Unicode simple case folding, as the byte matcher does
// in UTF-8. A phrase is found within one piece, never across two.

#include "extract/document_text.h"

#include <cstddef>
#include <memory>
#include <string>

namespace ferry {

class Utf8FoldPattern;

class TextPattern {
public:
    TextPattern(const std::string& codePageText, bool caseSensitive);
    ~TextPattern();
    TextPattern(TextPattern&&) noexcept;

    // The index of the first piece that holds the pattern, or -1. An empty pattern
    // matches nothing, as with bytes.
    long FindIn(const DocumentText& text) const;

    const std::string& Utf8() const { return Pattern_; }
    // The pattern with its case rule, as the cache keeps outcomes under.
    std::string Key() const {
        return Pattern_ +
               (CaseSensitive_ ? std::string(1, '\0') + "c" : std::string(1, '\0') + "i");
    }

private:
    std::string Pattern_;
    bool CaseSensitive_;
    std::unique_ptr<Utf8FoldPattern> Folded_;
};

} // namespace ferry
