#include "mail/header_fold.h"

#include "base/text.h"

namespace ferry {

namespace {

bool IsBreakChar(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

} // namespace

bool IsShiftJisLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

std::string FoldHeaderText(const std::string& t, int foldLength, LeadBytePredicate isLeadByte) {
    static const std::string kBreakText = "\r\n ";
    const size_t n = t.size();
    if (n <= static_cast<size_t>(foldLength > 0 ? foldLength : 0))
        return t;

    std::string result;
    size_t pos = 0;       // next character to scan
    size_t lineStart = 0; // first character of the current output line
    size_t breakPos = 0;  // last break character outside quotes
    bool haveBreak = false;
    long col = 1;
    bool inQuote = false;
    bool existingBreak = false;

    while (pos < n) {
        const char c = t[pos];
        if (isLeadByte != nullptr && isLeadByte(static_cast<unsigned char>(c)) && pos + 1 < n) {
            ++pos; // the trail byte goes with it and is never a break
            ++col;
        } else if (c == '\r') {
            if (!inQuote && t.compare(pos, kBreakText.size(), kBreakText) == 0) {
                existingBreak = true;
                pos += kBreakText.size() - 1;
                breakPos = pos;
                haveBreak = true;
            }
        } else if (IsBreakChar(c)) {
            if (!inQuote) {
                breakPos = pos;
                haveBreak = true;
            }
        } else if (c == '"') {
            inQuote = !inQuote;
        }
        ++pos;
        ++col;

        if (inQuote)
            continue;
        if (!(existingBreak || (col > foldLength && haveBreak && breakPos > lineStart)))
            continue;

        col = static_cast<long>(pos - breakPos);
        result.append(t, lineStart, breakPos - lineStart + 1);
        // After a closing quote the two lines stay joined: nothing skipped, no break text.
        if (c != '"') {
            while (pos < n && (IsBreakChar(t[pos]) || t[pos] == '\r' || t[pos] == '\n'))
                ++pos;
            if (!existingBreak && pos + 1 < n)
                result += kBreakText;
        }
        lineStart = breakPos + 1;
        haveBreak = false;
        existingBreak = false;
    }
    result.append(t, lineStart, std::string::npos);
    return result;
}

std::vector<std::string> SplitFoldedHeader(const std::string& folded) {
    std::vector<std::string> pieces;
    size_t start = 0;
    const size_t n = folded.size();
    auto take = [&](size_t end) {
        std::string piece = TrimRight(folded.substr(start, end - start));
        if (pieces.empty()) {
            pieces.push_back(piece);
        } else if (!Trim(piece).empty()) {
            if (piece[0] != ' ' && piece[0] != '\t')
                piece.insert(piece.begin(), ' ');
            pieces.push_back(piece);
        }
    };
    for (size_t i = 0; i < n; ++i) {
        if (folded[i] == '\r' || folded[i] == '\n') {
            take(i);
            if (folded[i] == '\r' && i + 1 < n && folded[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    take(n);
    return pieces;
}

} // namespace ferry
