#pragma once

#include <NodwardenCore/Date.hpp>
#include <NodwardenCore/Export.hpp>

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

// MARK: - Signals, power, lid

/// How strong the evidence of agent work is; ordered by raw value (`none` < ... < `strong`).
enum class SignalStrength : int { none = 0, presence = 1, weak = 2, strong = 3 };

int rawValue(SignalStrength strength);
/// Accepts 0 to 3; anything else yields no value.
std::optional<SignalStrength> signalStrengthFromRawValue(int raw);
/// `weak` and `strong` both mean active work.
bool isActiveWork(SignalStrength strength);

/// One detector's or one agent's finding.
struct ActivitySignal {
    SignalStrength strength = SignalStrength::none;
    /// Display name of the agent the signal is about; the agent's identity everywhere.
    std::optional<std::string> appName;
    /// Human-readable explanation shown as the status reason while keeping awake.
    std::string reason;
    /// The on-screen phrase or other text that produced the signal.
    std::optional<std::string> matchedText;
    std::optional<int> sessionCount;
    std::optional<bool> processPresent;

    /// Strength `none`, reason "No active agent signal", no optional field.
    static ActivitySignal none();

    static std::optional<ActivitySignal> fromJSON(std::string_view text);
    std::string toJSON() const;

    bool operator==(const ActivitySignal&) const = default;
};

enum class LidState { open, closed, unknown };

std::string_view rawValue(LidState state);
std::string_view displayName(LidState state);
std::optional<LidState> lidStateFromRawValue(std::string_view raw);

/// Power source and battery charge as read from the power tool.
struct PowerSnapshot {
    bool isOnACPower = false;
    /// Charge 0 to 100; absent when there is no battery or no reading.
    std::optional<int> batteryPercent;
    /// The power tool's text the snapshot was read from.
    std::string rawDescription;

    /// "85%, AC Power", "Battery unknown, Battery".
    std::string displayName() const;

    static std::optional<PowerSnapshot> fromJSON(std::string_view text);
    std::string toJSON() const;

    bool operator==(const PowerSnapshot&) const = default;
};

/// The platform's four-level thermal pressure; only `critical` changes a decision.
enum class ThermalState { nominal, fair, serious, critical };

// MARK: - Status and decision

enum class GuardStatus {
    off,
    watching,
    keepingAwake,
    idleGrace,
    batterySafety,
    thermalSafety,
    pluggedInUnlimited
};

std::string_view rawValue(GuardStatus status);
std::string_view displayName(GuardStatus status);
std::optional<GuardStatus> guardStatusFromRawValue(std::string_view raw);

/// What the state machine decided for one moment.
struct GuardDecision {
    GuardStatus status = GuardStatus::off;
    bool shouldPreventSleep = false;
    /// One-shot request to put the Mac to sleep now.
    bool shouldSleepNow = false;
    std::optional<std::string> detectedAppName;
    std::string reason;
    bool isBatteryWarning = false;

    bool operator==(const GuardDecision&) const = default;
};

// MARK: - Mode

enum class AppMode {
    off,
    manualKeepAwake,
    watchAgentUI,
    sleepAfterCurrentWork,
    pluggedInUnlimited
};

std::string_view rawValue(AppMode mode);
std::string_view displayName(AppMode mode);
/// Every mode, in the order the pickers show them.
const std::array<AppMode, 5>& appModeAllCases();
/// Any string other than a raw value yields no mode.
std::optional<AppMode> appModeFromRawValue(std::string_view raw);

// MARK: - Settings

/// Thresholds that depend on the power source.
struct GuardPowerProfile {
    GuardPowerProfile(int batteryCutoffPercent, int warningPercent, double idleGracePeriodSeconds,
                      double cpuThresholdPercent, bool allowUnlimitedKeepAwake,
                      bool sleepAfterCompletion, bool sleepOnlyIfLidClosed);

    /// On battery, at or below this charge keep-awake is released.
    int batteryCutoffPercent;
    /// On battery, at or below this charge (and above the cutoff) the battery warning is raised.
    int warningPercent;
    /// How long keep-awake is held after the last active-work signal.
    double idleGracePeriodSeconds;
    /// Summed CPU share at or above which a CPU-trusted agent counts as working.
    double cpuThresholdPercent;
    /// Only the plugged-in profile's value is ever consulted.
    bool allowUnlimitedKeepAwake;
    bool sleepAfterCompletion;
    bool sleepOnlyIfLidClosed;

    /// Strict: all seven keys must be present with the right JSON types.
    static std::optional<GuardPowerProfile> fromJSON(std::string_view text);
    std::string toJSON() const;

    bool operator==(const GuardPowerProfile&) const = default;
};

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

// MARK: - JSON building blocks (for records that embed these values)

void to_json(nlohmann::json& value, SignalStrength strength);
void from_json(const nlohmann::json& value, SignalStrength& strength);
void to_json(nlohmann::json& value, LidState state);
void from_json(const nlohmann::json& value, LidState& state);
void to_json(nlohmann::json& value, GuardStatus status);
void from_json(const nlohmann::json& value, GuardStatus& status);
void to_json(nlohmann::json& value, AppMode mode);
void from_json(const nlohmann::json& value, AppMode& mode);
void to_json(nlohmann::json& value, const ActivitySignal& signal);
void from_json(const nlohmann::json& value, ActivitySignal& signal);
void to_json(nlohmann::json& value, const PowerSnapshot& power);
void from_json(const nlohmann::json& value, PowerSnapshot& power);
void to_json(nlohmann::json& value, const GuardPowerProfile& profile);
void to_json(nlohmann::json& value, const GuardSettings& settings);

} // namespace nodwarden
