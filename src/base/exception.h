#pragma once

// The root of the program's errors and the runtime errors every layer raises.

#include <exception>
#include <string>

namespace ferry {

// Root of every error the program reports to the user. The message is 8-bit text,
// one byte per character, shown as it stands.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    const std::string& message() const noexcept { return Message; }

protected:
    std::string Message;
};

// File I/O failure, carrying the system error code (2 = not found, 5 = access denied, ...).
class EInOutError : public Exception {
public:
    explicit EInOutError(int errorCode);
    EInOutError(int errorCode, std::string message)
        : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

// The text an I/O error code is shown with.
std::string InOutErrorText(int errorCode);

// A text that is not an integer.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A value outside the range a conversion or container allows.
class ERangeError : public Exception {
public:
    ERangeError() : Exception("Range check error") {}
    using Exception::Exception;
};

// The system has no timers left.
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

} // namespace ferry
