#include "mail/reply_smtp.h"

#include "base/text.h"
#include "mail/reply_errors.h"

namespace ferry {

void TIdReplySMTP::ParseReplyLines(const std::vector<std::string>& lines) {
    Text.clear();
    Code_.clear();
    if (lines.empty())
        return;
    SetCode(CodeTextOf(lines.front()));
    for (const std::string& line : lines) {
        std::string rest = RestOf(line);
        size_t blank = 0;
        while (blank < rest.size() && !IsBlank(rest[blank]))
            ++blank;
        std::string word = rest.substr(0, blank);
        if (TIdSMTPEnhancedCode::IsWellFormed(word)) {
            rest.erase(0, blank < rest.size() ? blank + 1 : blank);
            EnhancedCode.SetReplyAsStr(word);
        }
        Text.push_back(rest);
    }
}

void TIdReplySMTP::RaiseForReply() const {
    TIdSMTPEnhancedCode own;
    own.SetReplyAsStr(EnhancedCode.ReplyAsStr());
    throw EIdSMTPReplyError(NumericCode(), own, FormattedText());
}

std::unique_ptr<TIdReply> TIdReplySMTP::Clone() const {
    return std::make_unique<TIdReplySMTP>(*this);
}

} // namespace ferry
