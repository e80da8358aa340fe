#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/GuardPowerProfile.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Which groups of the program's own news the desktop is told of as notifications.
struct NotificationChoices {
    /// The agents' work ended and the computer may sleep again.
    bool workDone = true;
    /// The work-done notice waits for the idle grace to run out instead of coming when the work
    /// ends.
    bool workDoneAfterGrace = false;
    /// A safety rule (battery cutoff, heat) let the computer go.
    bool safety = true;
    bool batteryWarning = false;
    /// Lid-closed mode refused or failed; launch at login failed.
    bool problems = false;

    bool operator==(const NotificationChoices&) const = default;
};

/// The whole user configuration. Its default value is a fresh installation's settings, and every
/// member has an initialiser, so `GuardSettings{.enableBrowsers = true}` names only what differs.
struct GuardSettings {
    GuardPowerProfile batteryProfile{};
    GuardPowerProfile pluggedInProfile{.allowUnlimitedKeepAwake = true};
    /// Further programs the process detector watches as agents.
    std::vector<std::string> targetApps{};
    std::vector<std::string> activePhrases{
        "Stop generating",        "Generating",       "Thinking",
        "Waiting for permission", "Codex is working", "Claude is working",
        "Working on it",          "Running task",     "Applying changes"};
    std::vector<std::string> idlePhrases{"Send", "Ask",      "New chat",
                                         "Done", "Finished", "Completed"};
    bool accessibilityDetectionEnabled = true;
    /// Whether the agents' own status records (their session state files and the kind of their
    /// newest transcript records) are read.
    bool statusRecordDetectionEnabled = true;
    bool launchAtLoginEnabled = false;
    bool restoreNormalSleepOnQuit = true;
    /// Agent profile identifiers the user has switched off.
    std::vector<std::string> disabledAgentIDs{};
    bool enableBrowsers = false;
    bool keepAwakeWithLidClosed = false;
    bool letDisplaySleep = false;
    NotificationChoices notifications{};
    /// Whether an agent that waits for its user's answer keeps the machine awake, for people who
    /// answer from another device.
    bool keepAwakeWhileAgentWaits = false;

    /// The settings of a fresh installation: `GuardSettings{}`.
    static GuardSettings defaults();

    /// Lower-case names that older versions put into the target list themselves.
    static const std::set<std::string>& legacyManagedNames();

    /// Drops empty and legacy-managed entries; kept entries stay exactly as given, in order.
    static std::vector<std::string> migrateLegacyTargets(const std::vector<std::string>& targets);

    /// The plugged-in profile on mains power, else the battery profile.
    GuardPowerProfile profileFor(const PowerSnapshot& power) const;

    // Compatibility accessors over the profiles (not stored, not encoded).
    int batteryCutoffPercent() const;
    /// Writes the battery profile only.
    void setBatteryCutoffPercent(int value);
    int warningPercent() const;
    /// Writes the battery profile only.
    void setWarningPercent(int value);
    double idleGracePeriodSeconds() const;
    /// Writes both profiles.
    void setIdleGracePeriodSeconds(double value);
    double cpuThresholdPercent() const;
    /// Writes both profiles.
    void setCpuThresholdPercent(double value);
    /// The plugged-in profile's `allowUnlimitedKeepAwake`.
    bool allowUnlimitedWhilePluggedIn() const;
    /// Writes the plugged-in profile only.
    void setAllowUnlimitedWhilePluggedIn(bool value);
    bool sleepAfterCompletion() const;
    /// Writes both profiles.
    void setSleepAfterCompletion(bool value);
    bool sleepOnlyIfLidClosed() const;
    /// Writes both profiles.
    void setSleepOnlyIfLidClosed(bool value);

    /// Tolerant: starts from `defaults()` and takes each key that is present; older flat keys are
    /// understood, but any key with a value of the wrong type (or malformed JSON) yields no
    /// settings.
    static std::optional<GuardSettings> fromJSON(std::string_view text);
    /// Writes the eighteen current keys only, never the older flat ones.
    std::string toJSON() const;

    bool operator==(const GuardSettings&) const = default;
};

// For records that embed it.
void to_json(nlohmann::json& value, const GuardSettings& settings);

} // namespace nodwarden
