#pragma once

// The errors a refused server reply raises.

#include <string>

#include "mail/enhanced_code.h"
#include "net/id_exception.h"

namespace ferry {

class EIdReplyError : public EIdException {
public:
    using EIdException::EIdException;
};

// A reply the caller did not accept; the message is the reply's text.
class EIdReplyRFCError : public EIdReplyError {
public:
    EIdReplyRFCError(int replyCode, std::string message)
        : EIdReplyError(std::move(message)), ReplyCode(replyCode) {}
    int ReplyCode;
};

// The SMTP form keeps its own copy of the enhanced code, so it stays valid after the
// connection's reply has moved on.
class EIdSMTPReplyError : public EIdReplyRFCError {
public:
    EIdSMTPReplyError(int replyCode, TIdSMTPEnhancedCode enhancedCode, std::string message)
        : EIdReplyRFCError(replyCode, std::move(message)), EnhancedCode(enhancedCode) {}
    TIdSMTPEnhancedCode EnhancedCode;
};

class EIdSMTPReply : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdSMTPReplyInvalidReplyString : public EIdSMTPReply {
public:
    EIdSMTPReplyInvalidReplyString() : EIdSMTPReply("Invalid Reply String.") {}
};

class EIdSMTPReplyInvalidClass : public EIdSMTPReply {
public:
    EIdSMTPReplyInvalidClass() : EIdSMTPReply("Invalid Reply Class.") {}
};

} // namespace ferry
