#include "Support/ScopedEnvironmentVariable.hpp"

#include <cstdlib>

namespace stayloom::testing {

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const char* name, const char* value)
    : name_(name) {
    if (const char* old = std::getenv(name)) {
        previous_ = old;
    }
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
    previous_ ? ::setenv(name_, previous_->c_str(), 1) : ::unsetenv(name_);
}

} // namespace stayloom::testing
