#pragma once

#include <stdexcept>
#include <string>

namespace nodwarden::app {

/// How the platform's login-item service sees the program. The numbers are the service's own.
enum class LoginItemStatus : int {
    notRegistered = 0,
    enabled = 1,
    requiresApproval = 2,
    notFound = 3
};

/// Registering or unregistering failed; what() is the platform's own description.
class LoginItemError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Starting the program when the user logs in. Calls are synchronous and made on the main thread.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    /// The registration as the platform reports it right now.
    virtual LoginItemStatus status() = 0;
    /// Throws `LoginItemError`.
    virtual void registerItem() = 0;
    /// Throws `LoginItemError`.
    virtual void unregisterItem() = 0;
};

} // namespace nodwarden::app
