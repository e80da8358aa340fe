#include <NodwardenApp/platform/DesktopNotifier.hpp>

#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>
#include <NodwardenLinux/FreedesktopNotifications.hpp>

#include <chrono>
#include <optional>
#include <system_error>

namespace nodwarden::app {

using linuxplatform::FreedesktopNotifications;

struct DesktopNotifier::State {
    explicit State(FileLogger& sharedLogger) : logger(sharedLogger) {}

    FileLogger& logger;
    FreedesktopNotifications service;
    bool failureLogged = false;
    /// The notice the service shows last, touched only on the queue.
    std::optional<Notice> shown;
};

DesktopNotifier::DesktopNotifier(FileLogger& logger, const std::filesystem::path& sandboxMarker)
    : state_(std::make_shared<State>(logger)),
      queue_(std::make_unique<SerialQueue>("Stayloom.Notifications")) {
    std::error_code ignored;
    if (std::filesystem::exists(sandboxMarker, ignored)) {
        logger.log("Notifications: running in a sandbox; the notification portal is not used, "
                   "notices go to the session bus where the sandbox lets them through");
    }
}

DesktopNotifier::~DesktopNotifier() {
    queue_->stopWithin(std::chrono::milliseconds(500));
}

void DesktopNotifier::show(const Notice& notice) {
    queue_->async([state = state_, notice] {
        const auto result = state->service.show(notice.summary, notice.body);
        switch (result.outcome) {
        case FreedesktopNotifications::Outcome::shown:
            state->failureLogged = false;
            state->shown = notice;
            break;
        case FreedesktopNotifications::Outcome::noSessionBus:
            // Said once: the next calls find no bus without trying again.
            if (!result.detail.empty()) {
                state->logger.log("Notifications: no session bus (" + result.detail +
                                  "); none will be shown");
            }
            break;
        case FreedesktopNotifications::Outcome::failed:
            if (!state->failureLogged) {
                state->failureLogged = true;
                state->logger.log("Notifications: the notification service did not take a "
                                  "notice: " +
                                  result.detail);
            }
            break;
        }
    });
}

void DesktopNotifier::withdraw(const Notice& notice) {
    queue_->async([state = state_, notice] {
        if (state->shown == notice) {
            state->service.close();
            state->shown.reset();
        }
    });
}

void DesktopNotifier::drain() {
    queue_->drain();
}

} // namespace nodwarden::app
