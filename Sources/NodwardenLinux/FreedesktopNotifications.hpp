#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace nodwarden::linuxplatform {

/// The desktop's notification service, org.freedesktop.Notifications on the session bus. Each
/// notice replaces the one this instance showed before in the same slot (`replaces_id`). Blocks
/// while the service answers: use it from one thread that may wait.
class FreedesktopNotifications {
public:
    enum class Outcome {
        shown,
        /// No session bus to reach: nothing will be shown by this instance.
        noSessionBus,
        /// The bus is there, but the service is missing or refused.
        failed,
    };
    struct Result {
        Outcome outcome = Outcome::failed;
        /// The bus's own description of a failure; empty when shown.
        std::string detail;
    };

    /// A button: the key the service reports back, and its label.
    using Action = std::pair<std::string, std::string>;

    FreedesktopNotifications();
    ~FreedesktopNotifications();
    FreedesktopNotifications(const FreedesktopNotifications&) = delete;
    FreedesktopNotifications& operator=(const FreedesktopNotifications&) = delete;

    /// Shows a notice in `slot`, replacing the one shown there before; notices of other slots
    /// stay. `actions` are offered only where the service says it shows them ("actions" among
    /// its capabilities, asked once per connection).
    Result show(const std::string& slot, const std::string& summary, const std::string& body,
                const std::vector<Action>& actions = {});
    /// Takes the notice of `slot` off the desktop; false when none is shown there or the service
    /// refused.
    bool close(const std::string& slot);

    /// Whether the latest notice with buttons may still have one pressed.
    bool awaitsAction() const { return awaitsAction_; }
    /// Waits for the service's word on the latest notice with buttons until `wakeFd` becomes
    /// readable (it is not read) or a signal arrives, and returns the key of an action pressed
    /// on it; empty when none was. A notice closed, or its action taken, awaits nothing more.
    std::string waitForAction(int wakeFd);

    /// The id the service gave the notice shown last; 0 before the first.
    std::uint32_t lastId() const { return lastId_; }

private:
    struct BusReleaser {
        void operator()(sd_bus* bus) const;
    };
    std::unique_ptr<sd_bus, BusReleaser> bus_;
    bool offersActions();
    /// One of the service's signals about a notice.
    void heard(sd_bus_message* message);

    bool noBus_ = false;
    std::uint32_t lastId_ = 0;
    /// The id each slot's notice has on the desktop.
    std::map<std::string, std::uint32_t> slotIds_;
    /// The notice whose buttons are awaited.
    std::uint32_t actionId_ = 0;
    std::optional<bool> offersActions_;
    bool matching_ = false;
    bool awaitsAction_ = false;
    /// What the signal callbacks found for the notice shown last.
    std::string pressed_;
};

} // namespace nodwarden::linuxplatform
