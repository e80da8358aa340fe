#pragma once

#include <NodwardenApp/model/Notifying.hpp>
#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/GuardDecision.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/GuardStatus.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <optional>
#include <string>

namespace nodwarden::app {

/// Decides what is worth a notification from the decisions the model applies: the agents' work
/// ended, a safety rule let the computer go, the battery runs low, lid-closed mode or launch at
/// login failed. What the user did themselves (a mode or a setting switched) is never announced:
/// they know.
class WorkNotifier {
public:
    /// `out` must outlive the notifier.
    explicit WorkNotifier(Notifying& out) : out_(out) {}

    /// Each decision the model applies, with the mode and settings it was made under.
    void observe(AppMode mode, const GuardDecision& decision, const PowerSnapshot& power,
                 const GuardSettings& settings, Date now);
    /// Switching sleep off for lid-closed mode was refused or failed.
    void lidClosedRefused(const GuardSettings& settings);
    /// Launch at login could not be set up at start; `description` says why.
    void launchAtLoginFailed(const std::string& description, const GuardSettings& settings);

    /// "12 min", "1 h 5 min", "less than a minute".
    static std::string describeDuration(double seconds);

private:
    void announceEnd(GuardStatus status, const PowerSnapshot& power, const GuardSettings& settings,
                     Date now);

    Notifying& out_;
    std::optional<AppMode> lastMode_;
    /// The last settings, their notification choices left out.
    std::optional<GuardSettings> lastSettings_;
    std::optional<GuardStatus> lastStatus_;
    bool lastBatteryWarning_ = false;
    /// When the current hold began, and the agent it was last seen for.
    std::optional<Date> holdSince_;
    std::optional<std::string> holdAgent_;
    bool holdTouchedByUser_ = false;
};

} // namespace nodwarden::app
