#include "support/scoped_env.h"

#include <cstdlib>

#include "platform/host.h"

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

} // namespace ferry::test
