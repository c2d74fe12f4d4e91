#include "support/scoped_env.h"

#include <cstdlib>

namespace ferry::test {

namespace {

void Set(const std::string& name, const char* value) {
    if (value)
        setenv(name.c_str(), value, 1);
    else
        unsetenv(name.c_str());
    if (name == "TZ")
        ReloadTimeZone();
}

} // namespace

ScopedEnv::ScopedEnv(const char* name, const char* value) : Name_(name) {
    if (const char* old = std::getenv(name))
        Old_ = old;
    Set(Name_, value);
}

ScopedEnv::~ScopedEnv() {
    Set(Name_, Old_ ? Old_->c_str() : nullptr);
}

std::time_t UtcTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

} // namespace ferry::test
