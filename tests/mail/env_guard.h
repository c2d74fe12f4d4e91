#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/host.h"

namespace ferry::testing {

// Sets an environment variable for one scope and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : Name_(name) {
        if (const char* old = std::getenv(name))
            Old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
        ReloadTimeZone();
    }
    ~ScopedEnv() {
        if (Old_)
            setenv(Name_.c_str(), Old_->c_str(), 1);
        else
            unsetenv(Name_.c_str());
        ReloadTimeZone();
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string Name_;
    std::optional<std::string> Old_;
};

// A locale for one scope: LC_ALL wins over everything else.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* locale) : All_("LC_ALL", locale) {}

private:
    ScopedEnv All_;
};

// A fixed clock for one scope.
class ScopedClock {
public:
    explicit ScopedClock(std::time_t now) : Old_(SetClock([now] { return now; })) {}
    ~ScopedClock() { SetClock(Old_); }

private:
    ClockFunction Old_;
};

// The instant of a UTC calendar time.
inline std::time_t UtcTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

} // namespace ferry::testing
