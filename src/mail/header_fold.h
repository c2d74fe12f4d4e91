#pragma once

// Folding long header lines at the column limit.

#include <string>
#include <vector>

namespace ferry {

// Tells whether a byte opens a double-byte character in the text's code page.
using LeadBytePredicate = bool (*)(unsigned char);

// Shift JIS lead bytes, for text in the Japanese code page.
bool IsShiftJisLeadByte(unsigned char b);

// Folds one header text ("Name: value") at foldLength columns, breaking after a space, a
// tab or a comma outside double quotes, and keeping the CR LF space breaks already in it.
// Returns the text with the CR LF space break text inserted.
std::string FoldHeaderText(const std::string& text, int foldLength = 78,
                           LeadBytePredicate isLeadByte = nullptr);

// Cuts folded text into header lines: at every line break, each line trimmed on the right.
// Continuation lines are kept only when they hold something, and always begin with a blank,
// so no text can end the header block or start a header of its own.
std::vector<std::string> SplitFoldedHeader(const std::string& folded);

} // namespace ferry
