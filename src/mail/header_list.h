#pragma once

// Ordered header lines with their continuation lines.

#include <string>
#include <vector>

#include "mail/header_fold.h"

namespace ferry {

// Ordered header lines; a header is "Name: value" and continues on the lines after it that
// begin with a space or a tab.
class TIdHeaderList {
public:
    std::string NameValueSeparator = ": ";
    bool CaseSensitive = false;
    bool UnfoldLines = true;
    bool FoldLines = true;
    int FoldLength = 78;
    // Double-byte lead bytes of the text's code page; none for single-byte text.
    LeadBytePredicate LeadBytes = nullptr;

    size_t Count() const { return Lines_.size(); }
    const std::string& operator[](size_t index) const { return Lines_.at(index); }
    const std::vector<std::string>& Lines() const { return Lines_; }
    void Add(const std::string& line) { Lines_.push_back(line); }
    void Clear() { Lines_.clear(); }
    // Copies all lines of another list, replacing these.
    void Assign(const TIdHeaderList& other);
    // Appends all lines of another list as they stand.
    void AddStrings(const TIdHeaderList& other);

    // Index of the line that starts the header, or -1.
    int IndexOfName(const std::string& name) const;
    // The value with its continuation lines joined; empty when the header is absent.
    std::string Values(const std::string& name) const;
    // A new name goes to the end, an existing one keeps its place; an empty value removes it.
    void SetValue(const std::string& name, const std::string& value);

private:
    bool SameName(const std::string& a, const std::string& b) const;
    size_t ContinuationEnd(size_t index) const;
    std::vector<std::string> Lines_;
};

} // namespace ferry
