#include "mail/header_list.h"

#include "base/text.h"

namespace ferry {

namespace {

bool IsContinuation(const std::string& line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

} // namespace

void TIdHeaderList::Assign(const TIdHeaderList& other) {
    if (&other != this)
        Lines_ = other.Lines_;
}

void TIdHeaderList::AddStrings(const TIdHeaderList& other) {
    std::vector<std::string> copy = other.Lines_;
    Lines_.insert(Lines_.end(), copy.begin(), copy.end());
}

bool TIdHeaderList::SameName(const std::string& a, const std::string& b) const {
    return CaseSensitive ? a == b : SameTextAscii(a, b);
}

int TIdHeaderList::IndexOfName(const std::string& name) const {
    for (size_t i = 0; i < Lines_.size(); ++i) {
        const std::string& line = Lines_[i];
        if (IsContinuation(line))
            continue;
        size_t colon = line.find(':');
        if (colon != std::string::npos && SameName(line.substr(0, colon), name))
            return static_cast<int>(i);
    }
    return -1;
}

size_t TIdHeaderList::ContinuationEnd(size_t index) const {
    size_t end = index + 1;
    while (end < Lines_.size() && IsContinuation(Lines_[end]))
        ++end;
    return end;
}

std::string TIdHeaderList::Values(const std::string& name) const {
    int index = IndexOfName(name);
    if (index < 0)
        return std::string();
    const std::string& line = Lines_[index];
    std::string value = line.substr(line.find(':') + 1);
    if (UnfoldLines) {
        size_t end = ContinuationEnd(index);
        for (size_t i = index + 1; i < end; ++i)
            value = Trim(value) + " " + Trim(Lines_[i]);
    }
    return Trim(value);
}

void TIdHeaderList::SetValue(const std::string& name, const std::string& value) {
    int found = IndexOfName(name);
    if (value.empty()) {
        if (found >= 0)
            Lines_.erase(Lines_.begin() + found, Lines_.begin() + ContinuationEnd(found));
        return;
    }
    size_t index;
    if (found < 0) {
        Lines_.emplace_back();
        index = Lines_.size() - 1;
    } else {
        index = static_cast<size_t>(found);
        Lines_.erase(Lines_.begin() + index + 1, Lines_.begin() + ContinuationEnd(index));
    }
    std::string text = name + NameValueSeparator + value;
    if (FoldLines)
        text = FoldHeaderText(text, FoldLength, LeadBytes);
    std::vector<std::string> pieces = SplitFoldedHeader(text);
    Lines_[index] = pieces[0];
    Lines_.insert(Lines_.begin() + index + 1, pieces.begin() + 1, pieces.end());
}

} // namespace ferry
