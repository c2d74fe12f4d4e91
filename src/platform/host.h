#pragma once

// Facts about this machine: its names, the time zone, the locale's language.

#include <ctime>
#include <functional>
#include <string>

namespace ferry {

// The local host name as the network layer reports it; empty when it cannot be read.
std::string LocalHostName();

// The computer's own name: the host name up to its first dot, at most 15 characters, as
// the system's short machine name is; empty when there is none.
std::string LocalComputerName();

// "Now" for everything that stamps a time. Tests replace it with a fixed clock.
using ClockFunction = std::function<std::time_t()>;
std::time_t CurrentTime();
// Installs a clock (an empty function restores the system clock); returns the previous one.
ClockFunction SetClock(ClockFunction clock);

// Local calendar time of an instant, in the zone the process runs in (TZ), with the zone's
// offset from UTC in force at that instant.
struct LocalTimeInfo {
    int Year = 0;      // e.g. 2026
    int Month = 0;     // 1..12
    int Day = 0;       // 1..31
    int Hour = 0;      // 0..23
    int Minute = 0;    // 0..59
    int Second = 0;    // 0..60
    int DayOfWeek = 0; // 0 = Sunday
    long UtcOffsetSeconds = 0;
};
// False when the system cannot say what the local time is.
bool GetLocalTime(std::time_t t, LocalTimeInfo& out);

// Makes a new TZ value take effect for the following local-time conversions.
void ReloadTimeZone();

// The locale name that decides text and character handling: the first non-empty of
// LC_ALL, LC_CTYPE and LANG, for example "ja_JP.UTF-8"; "C" when none is set.
std::string LocaleName();

// The language and territory parts of a locale name: "zh_CN.GB2312" gives "zh" and "CN".
void SplitLocaleName(const std::string& locale, std::string& language, std::string& territory);

} // namespace ferry
