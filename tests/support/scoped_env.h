#pragma once

// An environment variable set, or unset, for as long as one object lives.

#include <optional>
#include <string>

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

} // namespace ferry::test
