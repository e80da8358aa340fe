#pragma once

#include <string>

namespace nodwarden::app {

/// One desktop notification: a short summary line and a sentence or two below it.
struct Notice {
    std::string summary;
    std::string body;

    bool operator==(const Notice&) const = default;
};

/// Where the model's news goes: the desktop's notification service. Each notice replaces the one
/// shown before, so a user away from the machine finds the latest news, not a stack. Called on
/// the main thread; it must never wait on the desktop there.
class Notifying {
public:
    virtual ~Notifying() = default;
    virtual void show(const Notice& notice) = 0;
    /// Takes `notice` off the desktop if it is still the one shown last; another notice shown
    /// since stays.
    virtual void withdraw(const Notice& notice) = 0;
};

} // namespace nodwarden::app
