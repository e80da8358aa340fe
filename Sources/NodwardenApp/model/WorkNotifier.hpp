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

    /// The keys of the work-done notice's actions.
    static constexpr const char* sleepNowAction = "sleep-now";
    static constexpr const char* keepAwakeLongerAction = "keep-awake-30";
    /// How long "Keep awake 30 more minutes" keeps awake.
    static constexpr double keepAwakeLongerSeconds = 30 * 60;

    /// Each decision the model applies, with the mode and settings it was made under.
    /// `workedSeconds` is the agents' run as the statistics count it (its first active tick to
    /// its last), the one length the notice, the ledger and the panel give; none when unknown.
    void observe(AppMode mode, const GuardDecision& decision, const PowerSnapshot& power,
                 const GuardSettings& settings, Date now,
                 std::optional<double> workedSeconds = std::nullopt,
                 std::optional<Date> graceEndsAt = std::nullopt, bool agentsWaiting = false);
    /// Switching sleep off for lid-closed mode was refused or failed.
    void lidClosedRefused(const GuardSettings& settings);
    /// Launch at login could not be set up at start; `description` says why.
    void launchAtLoginFailed(const std::string& description, const GuardSettings& settings);

private:
    void announceEnd(GuardStatus status, const PowerSnapshot& power, const GuardSettings& settings,
                     std::optional<double> workedSeconds);
    /// "Agents finished", with the run's length and when the computer may sleep.
    void announceWorkDone(std::optional<double> workedSeconds, std::optional<double> graceLeft);

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
    /// The work-done notice went out when the work ended; the grace's end says nothing more.
    bool workDoneAnnounced_ = false;
    /// Agents stopped to ask the user something: their work has not finished, and each wait has
    /// its own notice.
    bool agentsWaiting_ = false;
};

} // namespace nodwarden::app
