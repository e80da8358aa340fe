#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct sd_bus;

namespace nodwarden::linuxplatform {

/// The desktop's notification service, org.freedesktop.Notifications on the session bus. Each
/// notice replaces the one this instance showed before (`replaces_id`). Blocks while the service
/// answers: use it from one thread that may wait.
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

    FreedesktopNotifications();
    ~FreedesktopNotifications();
    FreedesktopNotifications(const FreedesktopNotifications&) = delete;
    FreedesktopNotifications& operator=(const FreedesktopNotifications&) = delete;

    Result show(const std::string& summary, const std::string& body);
    /// Takes the notice shown last off the desktop; false when none is shown or the service
    /// refused.
    bool close();

    /// The id the service gave the notice shown last; 0 before the first.
    std::uint32_t lastId() const { return lastId_; }

private:
    struct BusReleaser {
        void operator()(sd_bus* bus) const;
    };
    std::unique_ptr<sd_bus, BusReleaser> bus_;
    bool noBus_ = false;
    std::uint32_t lastId_ = 0;
};

} // namespace nodwarden::linuxplatform
