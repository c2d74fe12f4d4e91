#pragma once

// The root of the mail client's and the transport's errors.

#include "base/exception.h"

namespace ferry {

// Root of the e-mail client's and transport's errors.
class EIdException : public Exception {
public:
    using Exception::Exception;
};

// A command or reply needs a connection and there is none.
class EIdNotConnected : public EIdException {
public:
    EIdNotConnected() : EIdException("Not connected.") {}
};

} // namespace ferry
