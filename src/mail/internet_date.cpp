#include "mail/internet_date.h"

#include <cstdlib>

#include "base/text.h"
#include "platform/host.h"

namespace ferry {

std::string FormatInternetDate(std::time_t t) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    LocalTimeInfo lt;
    if (!GetLocalTime(t, lt) || lt.DayOfWeek < 0 || lt.DayOfWeek > 6 || lt.Month < 1 ||
        lt.Month > 12)
        throw EIdFailedToRetrieveTimeZoneInfo();
    long offsetMinutes = lt.UtcOffsetSeconds / 60;
    char sign = offsetMinutes >= 0 ? '+' : '-';
    long magnitude = std::labs(offsetMinutes);
    return Format("%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld", kDays[lt.DayOfWeek], lt.Day,
                  kMonths[lt.Month - 1], lt.Year, lt.Hour, lt.Minute, lt.Second, sign,
                  magnitude / 60, magnitude % 60);
}

} // namespace ferry
