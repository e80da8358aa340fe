#pragma once

#include <optional>
#include <string>

namespace stayloom::testing {

/// An environment variable set (or, for a null value, unset) for one scope, then put back as it
/// was.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(const char* name, const char* value);
    ScopedEnvironmentVariable(const char* name, const std::string& value)
        : ScopedEnvironmentVariable(name, value.c_str()) {}
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> previous_;
};

} // namespace stayloom::testing
