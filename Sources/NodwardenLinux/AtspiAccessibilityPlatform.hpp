#pragma once

#include <NodwardenCore/detection/AccessibilityPlatform.hpp>

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

struct sd_bus;
struct sd_bus_slot;

namespace nodwarden::linuxplatform {

/// The desktop accessibility bus (AT-SPI) behind the core's accessibility interface.
///
/// Speaks the AT-SPI D-Bus protocol directly over sd-bus: libatspi dispatches incoming events
/// inside its own blocking calls and deadlocks without a GLib main loop, which a detection queue
/// does not have.
///
/// Elements are AT-SPI objects; attribute names map onto accessible name (title), text contents
/// (value), description, children, the active frame (focused window) and the frames (windows).
/// Every D-Bus round trip is bounded, and an application that timed out is left alone for a
/// while, so a hung program cannot stall a detection pass.
class AtspiAccessibilityPlatform final : public AccessibilityPlatform {
public:
    AtspiAccessibilityPlatform();
    ~AtspiAccessibilityPlatform() override;

    std::vector<RunningApplication> runningApplications() override;
    std::optional<AccessibilityValue> copyAttribute(const AccessibilityElement& element,
                                                    std::string_view attribute) override;
    /// True when the session's accessibility bus is enabled (org.a11y.Status IsEnabled): read
    /// over the one kept session-bus connection, again after its change signal, and otherwise at
    /// most once every `kTrustRefresh`.
    bool isProcessTrusted() override;
    /// Turns org.a11y.Status IsEnabled on. It persists in the user's desktop settings, so this runs
    /// only when the user asks for it.
    void promptForTrust() override;

    /// Longest wait for one accessibility call.
    static constexpr std::chrono::milliseconds callTimeout{250};
    /// Characters read from the end of one text element.
    static constexpr int maxTextCharacters = 20000;
    /// How long an application that timed out is skipped.
    static constexpr std::chrono::seconds hungBackoff{30};
    /// How long a read accessibility state stands without a change signal.
    static constexpr std::chrono::seconds trustRefresh{60};

private:
    bool isHung(int pid);
    void noteFailure(int pid, bool timedOut);
    /// The accessibility bus, connected on first use and again after it went away.
    sd_bus* accessibilityBus();
    /// The session bus, connected once for the program's life (again after it went away), with
    /// a match for org.a11y.Status's changes.
    sd_bus* sessionBus();

    std::mutex mutex_;
    sd_bus* bus_ = nullptr;
    sd_bus* session_ = nullptr;
    sd_bus_slot* statusWatch_ = nullptr;
    bool statusChanged_ = false;
    std::optional<bool> enabled_;
    std::chrono::steady_clock::time_point enabledReadAt_;
    std::map<int, std::chrono::steady_clock::time_point> hungUntil_;
};

} // namespace nodwarden::linuxplatform
