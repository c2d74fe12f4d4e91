#include "mail/reply_rfc.h"

#include "base/text.h"
#include "mail/reply_errors.h"

namespace ferry {

int TIdReplyRFC::NumericCode() const {
    int32_t v = 0;
    return TryStrToInt(Trim(Code_), v) ? v : 0;
}

void TIdReplyRFC::SetCode(const std::string& code) {
    if (code == Code_)
        return;
    if (!IsValidCode(code))
        throw EIdException("Reply Code is not valid: " + code);
    Text.clear();
    Code_ = code;
}

bool TIdReplyRFC::IsValidCode(const std::string& code) const {
    std::string t = Trim(code);
    if (t.empty())
        return true;
    int32_t v = 0;
    return TryStrToInt(t, v) && v >= 100 && v <= 999;
}

bool TIdReplyRFC::IsFinalLine(const std::string& line) const {
    return line.size() < 4 || IsBlank(line[3]);
}

std::string TIdReplyRFC::CodeTextOf(const std::string& firstLine) {
    std::string code = Trim(firstLine.substr(0, 4));
    if (code.size() == 4 && code[3] == '-')
        code.resize(3);
    return code;
}

std::string TIdReplyRFC::RestOf(const std::string& line) {
    return line.size() > 4 ? line.substr(4) : std::string();
}

void TIdReplyRFC::ParseReplyLines(const std::vector<std::string>& lines) {
    Text.clear();
    Code_.clear();
    if (lines.empty())
        return;
    SetCode(CodeTextOf(lines.front()));
    for (const std::string& line : lines)
        Text.push_back(RestOf(line));
}

std::string TIdReplyRFC::FormattedText() const {
    std::string s;
    for (const std::string& line : Text)
        s += line + "\r\n";
    return s;
}

void TIdReplyRFC::RaiseForReply() const {
    throw EIdReplyRFCError(NumericCode(), FormattedText());
}

std::unique_ptr<TIdReply> TIdReplyRFC::Clone() const {
    return std::make_unique<TIdReplyRFC>(*this);
}

} // namespace ferry
