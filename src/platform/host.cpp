#include "platform/host.h"

#include <cstdlib>
#include <mutex>
#include <sys/utsname.h>
#include <unistd.h>

namespace ferry {

std::string LocalHostName() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0)
        return std::string();
    return std::string(buf);
}

std::string LocalComputerName() {
    std::string name;
    struct utsname u;
    if (uname(&u) == 0)
        name = u.nodename;
    if (name.empty())
        name = LocalHostName();
    size_t dot = name.find('.');
    if (dot != std::string::npos)
        name.resize(dot);
    if (name.size() > 15)
        name.resize(15);
    return name;
}

namespace {

std::mutex& ClockMutex() {
    static std::mutex m;
    return m;
}

ClockFunction& ClockSlot() {
    static ClockFunction clock;
    return clock;
}

} // namespace

std::time_t CurrentTime() {
    ClockFunction clock;
    {
        std::lock_guard<std::mutex> lock(ClockMutex());
        clock = ClockSlot();
    }
    return clock ? clock() : std::time(nullptr);
}

ClockFunction SetClock(ClockFunction clock) {
    std::lock_guard<std::mutex> lock(ClockMutex());
    ClockFunction previous = std::move(ClockSlot());
    ClockSlot() = std::move(clock);
    return previous;
}

bool GetLocalTime(std::time_t t, LocalTimeInfo& out) {
    struct tm tm;
    if (localtime_r(&t, &tm) == nullptr)
        return false;
    out.Year = tm.tm_year + 1900;
    out.Month = tm.tm_mon + 1;
    out.Day = tm.tm_mday;
    out.Hour = tm.tm_hour;
    out.Minute = tm.tm_min;
    out.Second = tm.tm_sec;
    out.DayOfWeek = tm.tm_wday;
    out.UtcOffsetSeconds = tm.tm_gmtoff;
    return true;
}

void ReloadTimeZone() {
    tzset();
}

std::string LocaleName() {
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(var);
        if (v != nullptr && *v != '\0')
            return v;
    }
    return "C";
}

void SplitLocaleName(const std::string& locale, std::string& language, std::string& territory) {
    // language[_territory][.codeset][@modifier]
    size_t end = locale.find_first_of(".@");
    std::string base = locale.substr(0, end);
    size_t us = base.find_first_of("_-");
    language = base.substr(0, us);
    territory = us == std::string::npos ? std::string() : base.substr(us + 1);
}

} // namespace ferry
