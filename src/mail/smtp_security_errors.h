#pragma once

// The errors of encryption and sign-in, in words a user can act on.

#include <string>

#include "net/id_exception.h"

namespace ferry {

// Encryption was asked for and the server does not offer it.
class EIdSMTPTLSNotOffered : public EIdException {
public:
    EIdSMTPTLSNotOffered()
        : EIdException("The server does not offer STARTTLS, so the connection cannot be "
                       "encrypted. Nothing was sent.") {}
};

// Signing in failed or was not attempted for a reason the user can act on.
class EIdSMTPAuthError : public EIdException {
public:
    using EIdException::EIdException;
};

// The server answered the login with a refusal; the message carries its reply.
class EIdSMTPAuthRefused : public EIdSMTPAuthError {
public:
    EIdSMTPAuthRefused(int replyCode, const std::string& serverText)
        : EIdSMTPAuthError("Sign-in refused by the server: " + serverText), ReplyCode(replyCode) {}
    int ReplyCode;
};

// A user name is set but no password is known for it.
class EIdSMTPNoPassword : public EIdSMTPAuthError {
public:
    explicit EIdSMTPNoPassword(const std::string& user)
        : EIdSMTPAuthError("No password is stored for " + user + ".") {}
};

} // namespace ferry
