#pragma once

// The words of an XML part of an office file, as rules for its vocabulary say: which
// elements hold text, which stand for a space or end a line, which are skipped whole, and
// which start a new piece (a sheet, a slide). Elements are known by their local names.
// The parser fetches nothing from the network and expands no entity.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ferry {

struct XmlTextRules {
    std::vector<std::string> Text;  // character data inside these is taken
    std::vector<std::string> Space; // each of these is a space (a tab, a line break)
    std::vector<std::string> Line;  // the end of each of these ends a line (a paragraph)
    std::vector<std::string> Skip;  // skipped with all they hold (deleted text, phonetics)
    std::string Piece;              // each of these is a piece of its own ("" for none)
    // An element skipped when it has this attribute value (a cell whose value is an index).
    std::string SkipIfElement, SkipIfAttribute, SkipIfValue;
};

// The text of `xml`, one string per piece (just one when the rules name no piece element;
// text outside any piece element then goes to the first). Throws ReadFailure(Damaged) for
// XML that does not parse, OverSizeBound past `limit` bytes of text.
std::vector<std::string> XmlText(std::string_view xml, const XmlTextRules& rules,
                                 std::size_t limit);

} // namespace ferry
