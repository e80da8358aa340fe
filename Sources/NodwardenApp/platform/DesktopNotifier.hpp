#pragma once

#include <NodwardenApp/model/Notifying.hpp>

#include <filesystem>
#include <memory>

namespace nodwarden {
class FileLogger;
class SerialQueue;
} // namespace nodwarden

namespace nodwarden::app {

/// The model's notices shown by the desktop's notification service, each call made on a queue of
/// its own so the main thread never waits on the session bus. Without a session bus nothing is
/// shown and one line is logged; a failing service is logged once until it works again. A
/// notice's buttons are offered only where the server lists "actions"; their `ActionInvoked` is
/// then waited for on the same queue and bus connection, woken by an eventfd when a notice comes.
class DesktopNotifier final : public Notifying {
public:
    /// `logger` must outlive the notifier. `sandboxMarker` is the file a sandbox puts in the root
    /// folder; its presence is logged, since the portal is not spoken to.
    explicit DesktopNotifier(FileLogger& logger,
                             const std::filesystem::path& sandboxMarker = "/.flatpak-info");
    /// Waits a moment for a notice on its way, never for a bus that does not answer.
    ~DesktopNotifier() override;
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    void show(const Notice& notice) override;
    /// The handler is called on the notifier's queue, never while `setActionHandler` runs.
    void setActionHandler(ActionHandler handler) override;
    void withdraw(const std::string& slot) override;
    /// Returns once every notice shown so far has been sent or given up.
    void drain();

    struct State;

private:
    std::shared_ptr<State> state_;
    std::unique_ptr<SerialQueue> queue_;
};

} // namespace nodwarden::app
