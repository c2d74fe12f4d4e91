#pragma once

// The byte strings each character of a literal may appear as in text under a case rule:
// what a filter over many literals at once needs to know of each.

#include "core/conditions/text_reader.h"

#include <string>
#include <string_view>
#include <vector>

namespace ferry {

// One character of a literal: the forms it matches (several under a case rule, of one or
// more byte lengths). No forms: the literal can never occur in this code page.
struct LiteralElement {
    std::vector<std::string> Forms;
};

// A literal in the text's code page, compared as the content matcher compares: byte for
// byte; by the code page's upper case; by Unicode's simple case folding in UTF-8 (a byte
// outside any character matching only itself). In a multi-byte code page, without regard to
// case, the literal's upper case as bytes: it is looked for in the upper case of the text.
std::vector<LiteralElement> ShapeLiteral(std::string_view bytes, const TextReader& reader,
                                         bool caseSensitive);

// Bytes compared as they are: each its own element.
std::vector<LiteralElement> ShapeBytes(std::string_view bytes);

// A piece of text that a regular expression's matches must hold (UTF-8, lower-cased by the
// expression library), as it may appear in text of the reader's code page under Unicode's
// simple case folding. İ also stands for its lower case i.
std::vector<LiteralElement> ShapeRequiredText(std::string_view utf8, const TextReader& reader);

} // namespace ferry
