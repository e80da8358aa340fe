#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/GuardPowerProfile.hpp>
#include <NodwardenCore/PowerState.hpp>

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
    /// A safety rule (battery cutoff, heat) let the computer go.
    bool safety = true;
    bool batteryWarning = false;
    /// Lid-closed mode refused or failed; launch at login failed.
    bool problems = false;

    bool operator==(const NotificationChoices&) const = default;
};

/// The whole user configuration.
struct GuardSettings {
    /// A profile that is given is used unchanged; an absent one is built from the flat arguments
    /// (the battery profile never allows unlimited keep-awake, the plugged-in one takes
    /// `allowUnlimitedWhilePluggedIn`).
    GuardSettings(std::optional<GuardPowerProfile> batteryProfile,
                  std::optional<GuardPowerProfile> pluggedInProfile, int batteryCutoffPercent,
                  int warningPercent, double idleGracePeriodSeconds, double cpuThresholdPercent,
                  std::vector<std::string> targetApps, std::vector<std::string> activePhrases,
                  std::vector<std::string> idlePhrases, bool accessibilityDetectionEnabled,
                  bool launchAtLoginEnabled, bool allowUnlimitedWhilePluggedIn,
                  bool sleepAfterCompletion, bool sleepOnlyIfLidClosed,
                  bool restoreNormalSleepOnQuit, std::vector<std::string> disabledAgentIDs,
                  bool enableBrowsers, bool keepAwakeWithLidClosed, bool letDisplaySleep);

    /// The settings of a fresh installation.
    static GuardSettings defaults();

    static const std::vector<std::string>& defaultTargetApps();
    static const std::vector<std::string>& defaultActivePhrases();
    static const std::vector<std::string>& defaultIdlePhrases();
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

    /// Tolerant: absent keys take defaults and older flat keys are understood, but any key with a
    /// value of the wrong type (or malformed JSON) yields no settings.
    static std::optional<GuardSettings> fromJSON(std::string_view text);
    /// Writes the seventeen current keys only, never the older flat ones.
    std::string toJSON() const;

    GuardPowerProfile batteryProfile;
    GuardPowerProfile pluggedInProfile;
    /// Further programs the process detector watches as agents.
    std::vector<std::string> targetApps;
    std::vector<std::string> activePhrases;
    std::vector<std::string> idlePhrases;
    bool accessibilityDetectionEnabled;
    /// Whether the agents' own status records (their session state files and the kind of their
    /// newest transcript records) are read. Not a constructor argument: on unless switched off.
    bool statusRecordDetectionEnabled = true;
    bool launchAtLoginEnabled;
    bool restoreNormalSleepOnQuit;
    /// Agent profile identifiers the user has switched off.
    std::vector<std::string> disabledAgentIDs;
    bool enableBrowsers;
    bool keepAwakeWithLidClosed;
    bool letDisplaySleep;
    /// Not a constructor argument: each group takes its default until switched.
    NotificationChoices notifications;

    bool operator==(const GuardSettings&) const = default;
};

// For records that embed it.
void to_json(nlohmann::json& value, const GuardSettings& settings);

} // namespace nodwarden
