#pragma once

// The transport's errors, with the texts the user sees.

#include "net/id_exception.h"

#include <cstdint>
#include <string>

namespace ferry {

// Errors that end an operation quietly from the user's point of view (a closed peer).
class EIdSilentException : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdConnClosedGracefully : public EIdSilentException {
public:
    EIdConnClosedGracefully() : EIdSilentException("Connection Closed Gracefully.") {}
};

// A failed socket call; Code is the Winsock-style error number the message was made from.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int32_t code, std::string message)
        : EIdException(std::move(message)), Code(code) {}
    int32_t Code;
};

class EIdNotASocket : public EIdSocketError {
public:
    using EIdSocketError::EIdSocketError;
};

class EIdAlreadyConnected : public EIdException {
public:
    EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdHostRequired : public EIdException {
public:
    EIdHostRequired() : EIdException("") {}
};

class EIdPortRequired : public EIdException {
public:
    EIdPortRequired() : EIdException("") {}
};

class EIdConnectTimeout : public EIdException {
public:
    EIdConnectTimeout() : EIdException("Connect timed out.") {}
};

class EIdConnectException : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdReadTimeout : public EIdException {
public:
    EIdReadTimeout() : EIdException("Read Timeout") {}
};

class EIdClosedSocket : public EIdException {
public:
    EIdClosedSocket() : EIdException("Disconnected.") {}
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
public:
    EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

// A reply of more lines or bytes than the bound in tcp_connection.h: a flood, not an answer.
class EIdReplyTooLarge : public EIdException {
public:
    EIdReplyTooLarge()
        : EIdException("Reply too large: the server sent more than 1000 lines or 1 MB.") {}
};

class EIdTooMuchDataInBuffer : public EIdException {
public:
    EIdTooMuchDataInBuffer() : EIdException("Too much data in buffer.") {}
};

class EIdNotEnoughDataInBuffer : public EIdException {
public:
    using EIdException::EIdException;
};

// Errors of the socket record's bind and IP version handling.
class EIdSocketHandleError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdCouldNotBindSocket : public EIdSocketHandleError {
public:
    EIdCouldNotBindSocket()
        : EIdSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};

class EIdCanNotBindPortInRange : public EIdSocketHandleError {
public:
    using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdInvalidPortRange : public EIdSocketHandleError {
public:
    using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdCannotSetIPVersionWhenConnected : public EIdSocketHandleError {
public:
    EIdCannotSetIPVersionWhenConnected()
        : EIdSocketHandleError("Cannot change IPVersion when connected") {}
};

// Errors of the socket stack itself.
class EIdStackError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdStackInitializationFailed : public EIdStackError {
public:
    using EIdStackError::EIdStackError;
};

class EIdStackSetSizeExceeded : public EIdStackError {
public:
    EIdStackSetSizeExceeded() : EIdStackError("Set Size Exceeded.") {}
};

class EIdIPVersionUnsupported : public EIdStackError {
public:
    EIdIPVersionUnsupported()
        : EIdStackError("The requested IPVersion / Address family is not supported.") {}
};

class EIdIPv6Unavailable : public EIdException {
public:
    EIdIPv6Unavailable() : EIdException("IPv6 unavailable") {}
};

class EIdInvalidServiceName : public EIdException {
public:
    using EIdException::EIdException;
};

} // namespace ferry
