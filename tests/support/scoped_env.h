#pragma once

// The surroundings a test sets for one scope: an environment variable, the locale, the clock.

#include <ctime>
#include <optional>
#include <string>

#include "platform/host.h"

namespace ferry::test {

class ScopedEnv {
public:
    // `value` null: unset for the scope. A change of TZ is read again at once, both ways.
    ScopedEnv(const char* name, const char* value);
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv();
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
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    ClockFunction Old_;
};

// The instant of a UTC calendar time.
std::time_t UtcTime(int year, int month, int day, int hour, int minute, int second);

} // namespace ferry::test
