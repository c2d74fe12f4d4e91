#pragma once

// A stretch of a document's text and where it comes from: what document reading gives and
// what task conditions match.

#include <string>

namespace ferry {

// One stretch of text and where it comes from, as the history names it ("PDF text, page 2").
struct TextPiece {
    std::string Label;
    std::string Text; // UTF-8
    bool operator==(const TextPiece&) const = default;
};

} // namespace ferry
