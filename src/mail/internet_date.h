#pragma once

// The date of a message as its Date header writes it.

#include <ctime>
#include <string>

#include "net/id_exception.h"

namespace ferry {

class EIdFailedToRetrieveTimeZoneInfo : public EIdException {
public:
    EIdFailedToRetrieveTimeZoneInfo()
        : EIdException("Failed attempting to retrieve time zone information.") {}
};

// "Mon, 7 Dec 2026 14:05:09 +1000": the local time of t with the zone offset in force at
// t, in English whatever the user's locale.
std::string FormatInternetDate(std::time_t t);

} // namespace ferry
