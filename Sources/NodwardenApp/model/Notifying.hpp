#pragma once

#include <functional>
#include <string>
#include <vector>

namespace nodwarden::app {

/// A button of a notice: the key the model hears when it is pressed, and its label.
struct NoticeAction {
    std::string key;
    std::string label;

    bool operator==(const NoticeAction&) const = default;
};

/// One desktop notification: a short summary line and a sentence or two below it, and the
/// buttons offered where the desktop shows them.
struct Notice {
    std::string summary;
    std::string body;
    std::vector<NoticeAction> actions{};
    /// Notices of one slot replace each other; notices of different slots stand side by side, so
    /// each agent's question stays on the desktop until its own wait ends. Empty is the slot of
    /// the model's news (work done, battery, heat).
    std::string slot{};

    bool operator==(const Notice&) const = default;
};

/// Where the model's news goes: the desktop's notification service. Each notice replaces the one
/// shown before, so a user away from the machine finds the latest news, not a stack. Called on
/// the main thread; it must never wait on the desktop there.
class Notifying {
public:
    /// Hears the key of an action the user pressed; called on any thread.
    using ActionHandler = std::function<void(const std::string& key)>;

    virtual ~Notifying() = default;
    virtual void show(const Notice& notice) = 0;
    /// Where the actions of the latest notice go; a service without buttons never calls it.
    virtual void setActionHandler(ActionHandler handler) = 0;
    /// Takes the notice of `slot` off the desktop; notices of other slots stay.
    virtual void withdraw(const std::string& slot) = 0;
};

} // namespace nodwarden::app
