#pragma once

// SMTP replies, with their enhanced status codes.

#include "mail/enhanced_code.h"
#include "mail/reply_rfc.h"

namespace ferry {

// An SMTP reply: like the RFC form, with an enhanced status code that may lead each line.
class TIdReplySMTP : public TIdReplyRFC {
public:
    // Not emptied by parsing: a reply without codes keeps what the previous one left.
    TIdSMTPEnhancedCode EnhancedCode;

    void ParseReplyLines(const std::vector<std::string>& lines) override;
    [[noreturn]] void RaiseForReply() const override;
    std::unique_ptr<TIdReply> Clone() const override;
};

} // namespace ferry
