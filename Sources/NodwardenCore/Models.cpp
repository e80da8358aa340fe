#include <NodwardenCore/Models.hpp>

#include <NodwardenCore/JSONDecoding.hpp>
#include <NodwardenCore/UnicodeText.hpp>

#include <nlohmann/json.hpp>

#include <utility>

namespace nodwarden {

using nlohmann::json;
using namespace JSONDecoding;

namespace {

// MARK: - Records

template <typename Enum, std::size_t N>
std::optional<Enum> caseForRawValue(const std::array<Enum, N>& cases, std::string_view raw) {
    for (const Enum value : cases) {
        if (rawValue(value) == raw) {
            return value;
        }
    }
    return std::nullopt;
}

constexpr std::array<LidState, 3> kLidStates{LidState::open, LidState::closed, LidState::unknown};
constexpr std::array<GuardStatus, 7> kGuardStatuses{GuardStatus::off,
                                                    GuardStatus::watching,
                                                    GuardStatus::keepingAwake,
                                                    GuardStatus::idleGrace,
                                                    GuardStatus::batterySafety,
                                                    GuardStatus::thermalSafety,
                                                    GuardStatus::pluggedInUnlimited};

GuardPowerProfile decodeProfile(const json& value, std::string_view what) {
    const json& object = requireObject(value, what);
    return GuardPowerProfile(
        readInt(requiredMember(object, "batteryCutoffPercent"), "batteryCutoffPercent"),
        readInt(requiredMember(object, "warningPercent"), "warningPercent"),
        readDouble(requiredMember(object, "idleGracePeriodSeconds"), "idleGracePeriodSeconds"),
        readDouble(requiredMember(object, "cpuThresholdPercent"), "cpuThresholdPercent"),
        readBool(requiredMember(object, "allowUnlimitedKeepAwake"), "allowUnlimitedKeepAwake"),
        readBool(requiredMember(object, "sleepAfterCompletion"), "sleepAfterCompletion"),
        readBool(requiredMember(object, "sleepOnlyIfLidClosed"), "sleepOnlyIfLidClosed"));
}

GuardSettings decodeSettings(const json& value) {
    const json& object = requireObject(value, "settings");

    // Older versions stored the profile fields flat at the top level. Every legacy key is
    // type-checked even when the profiles make it irrelevant, so a damaged record never passes.
    const int cutoff = readOptional(object, "batteryCutoffPercent", readInt).value_or(20);
    const int warning = readOptional(object, "warningPercent", readInt).value_or(30);
    const double idleGrace =
        readOptional(object, "idleGracePeriodSeconds", readDouble).value_or(90.0);
    const double cpuThreshold =
        readOptional(object, "cpuThresholdPercent", readDouble).value_or(8.0);
    const bool unlimitedWhilePluggedIn =
        readOptional(object, "allowUnlimitedWhilePluggedIn", readBool).value_or(true);
    const bool sleepAfterCompletion =
        readOptional(object, "sleepAfterCompletion", readBool).value_or(true);
    const bool sleepOnlyIfLidClosed =
        readOptional(object, "sleepOnlyIfLidClosed", readBool).value_or(true);

    const auto readProfile = [](const json& profile, std::string_view key) {
        return decodeProfile(profile, key);
    };
    auto batteryProfile = readOptional(object, "batteryProfile", readProfile);
    auto pluggedInProfile = readOptional(object, "pluggedInProfile", readProfile);

    auto targetApps = readOptional(object, "targetApps", readStringList)
                          .value_or(GuardSettings::defaultTargetApps());
    auto activePhrases = readOptional(object, "activePhrases", readStringList)
                             .value_or(GuardSettings::defaultActivePhrases());
    auto idlePhrases = readOptional(object, "idlePhrases", readStringList)
                           .value_or(GuardSettings::defaultIdlePhrases());
    auto disabledAgentIDs = readOptional(object, "disabledAgentIDs", readStringList)
                                .value_or(std::vector<std::string>{});

    GuardSettings settings(
        batteryProfile, pluggedInProfile, cutoff, warning, idleGrace, cpuThreshold,
        GuardSettings::migrateLegacyTargets(targetApps), std::move(activePhrases),
        std::move(idlePhrases),
        readOptional(object, "accessibilityDetectionEnabled", readBool).value_or(true),
        readOptional(object, "launchAtLoginEnabled", readBool).value_or(false),
        unlimitedWhilePluggedIn, sleepAfterCompletion, sleepOnlyIfLidClosed,
        readOptional(object, "restoreNormalSleepOnQuit", readBool).value_or(true),
        std::move(disabledAgentIDs),
        readOptional(object, "enableBrowsers", readBool).value_or(false),
        readOptional(object, "keepAwakeWithLidClosed", readBool).value_or(false),
        readOptional(object, "letDisplaySleep", readBool).value_or(false));
    settings.statusRecordDetectionEnabled =
        readOptional(object, "statusRecordDetectionEnabled", readBool).value_or(true);
    NotificationChoices& notifications = settings.notifications;
    notifications.workDone =
        readOptional(object, "notifyWorkDone", readBool).value_or(notifications.workDone);
    notifications.safety =
        readOptional(object, "notifySafety", readBool).value_or(notifications.safety);
    notifications.batteryWarning = readOptional(object, "notifyBatteryWarning", readBool)
                                       .value_or(notifications.batteryWarning);
    notifications.problems =
        readOptional(object, "notifyProblems", readBool).value_or(notifications.problems);
    return settings;
}

SignalStrength decodeSignalStrength(const json& value, std::string_view key) {
    const auto strength = signalStrengthFromRawValue(readInt(value, key));
    if (!strength) {
        throw DecodingError("\"" + std::string(key) + "\" is not a signal strength from 0 to 3");
    }
    return *strength;
}

ActivitySignal decodeActivitySignal(const json& value) {
    const json& object = requireObject(value, "signal");
    return ActivitySignal{
        decodeSignalStrength(requiredMember(object, "strength"), "strength"),
        readOptional(object, "appName", readString),
        readString(requiredMember(object, "reason"), "reason"),
        readOptional(object, "matchedText", readString),
        readOptional(object, "sessionCount", readInt),
        readOptional(object, "processPresent", readBool),
    };
}

PowerSnapshot decodePowerSnapshot(const json& value) {
    const json& object = requireObject(value, "power snapshot");
    return PowerSnapshot{
        readBool(requiredMember(object, "isOnACPower"), "isOnACPower"),
        readOptional(object, "batteryPercent", readInt),
        readString(requiredMember(object, "rawDescription"), "rawDescription"),
    };
}

template <typename Enum, std::size_t N>
Enum decodeRawValue(const json& value, const std::array<Enum, N>& cases, std::string_view what) {
    const auto decoded = caseForRawValue(cases, readString(value, what));
    if (!decoded) {
        throw DecodingError("\"" + std::string(what) + "\" is not a known raw value");
    }
    return *decoded;
}

} // namespace

// MARK: - SignalStrength

int rawValue(SignalStrength strength) {
    return static_cast<int>(strength);
}

std::optional<SignalStrength> signalStrengthFromRawValue(int raw) {
    if (raw < 0 || raw > 3) {
        return std::nullopt;
    }
    return static_cast<SignalStrength>(raw);
}

bool isActiveWork(SignalStrength strength) {
    return strength >= SignalStrength::weak;
}

// MARK: - ActivitySignal

ActivitySignal ActivitySignal::none() {
    return ActivitySignal{SignalStrength::none, std::nullopt, "No active agent signal",
                          std::nullopt,         std::nullopt, std::nullopt};
}

std::optional<ActivitySignal> ActivitySignal::fromJSON(std::string_view text) {
    return decodeText<ActivitySignal>(text, decodeActivitySignal);
}

std::string ActivitySignal::toJSON() const {
    return json(*this).dump();
}

// MARK: - LidState

std::string_view rawValue(LidState state) {
    switch (state) {
    case LidState::open:
        return "open";
    case LidState::closed:
        return "closed";
    case LidState::unknown:
        return "unknown";
    }
    return "unknown";
}

std::string_view displayName(LidState state) {
    switch (state) {
    case LidState::open:
        return "Open";
    case LidState::closed:
        return "Closed";
    case LidState::unknown:
        return "Unknown";
    }
    return "Unknown";
}

std::optional<LidState> lidStateFromRawValue(std::string_view raw) {
    return caseForRawValue(kLidStates, raw);
}

// MARK: - PowerSnapshot

std::string PowerSnapshot::displayName() const {
    std::string text = batteryPercent ? std::to_string(*batteryPercent) + "%" : "Battery unknown";
    text += isOnACPower ? ", AC Power" : ", Battery";
    return text;
}

std::optional<PowerSnapshot> PowerSnapshot::fromJSON(std::string_view text) {
    return decodeText<PowerSnapshot>(text, decodePowerSnapshot);
}

std::string PowerSnapshot::toJSON() const {
    return json(*this).dump();
}

// MARK: - GuardStatus

std::string_view rawValue(GuardStatus status) {
    switch (status) {
    case GuardStatus::off:
        return "off";
    case GuardStatus::watching:
        return "watching";
    case GuardStatus::keepingAwake:
        return "keepingAwake";
    case GuardStatus::idleGrace:
        return "idleGrace";
    case GuardStatus::batterySafety:
        return "batterySafety";
    case GuardStatus::thermalSafety:
        return "thermalSafety";
    case GuardStatus::pluggedInUnlimited:
        return "pluggedInUnlimited";
    }
    return "off";
}

std::string_view displayName(GuardStatus status) {
    switch (status) {
    case GuardStatus::off:
        return "Off";
    case GuardStatus::watching:
        return "Watching";
    case GuardStatus::keepingAwake:
        return "Keeping Awake";
    case GuardStatus::idleGrace:
        return "Idle Grace";
    case GuardStatus::batterySafety:
        return "Battery Safety";
    case GuardStatus::thermalSafety:
        return "Thermal Safety";
    case GuardStatus::pluggedInUnlimited:
        return "Plugged In Unlimited";
    }
    return "Off";
}

std::optional<GuardStatus> guardStatusFromRawValue(std::string_view raw) {
    return caseForRawValue(kGuardStatuses, raw);
}

// MARK: - AppMode

std::string_view rawValue(AppMode mode) {
    switch (mode) {
    case AppMode::off:
        return "off";
    case AppMode::manualKeepAwake:
        return "manualKeepAwake";
    case AppMode::watchAgentUI:
        return "watchAgentUI";
    case AppMode::sleepAfterCurrentWork:
        return "sleepAfterCurrentWork";
    case AppMode::pluggedInUnlimited:
        return "pluggedInUnlimited";
    }
    return "off";
}

std::string_view displayName(AppMode mode) {
    switch (mode) {
    case AppMode::off:
        return "Off";
    case AppMode::manualKeepAwake:
        return "Manual Keep Awake";
    case AppMode::watchAgentUI:
        return "Watch Agent UI";
    case AppMode::sleepAfterCurrentWork:
        return "Sleep After Current Work";
    case AppMode::pluggedInUnlimited:
        return "Plugged-In Unlimited Mode";
    }
    return "Off";
}

const std::array<AppMode, 5>& appModeAllCases() {
    static constexpr std::array<AppMode, 5> cases{
        AppMode::off, AppMode::manualKeepAwake, AppMode::watchAgentUI,
        AppMode::sleepAfterCurrentWork, AppMode::pluggedInUnlimited};
    return cases;
}

std::optional<AppMode> appModeFromRawValue(std::string_view raw) {
    return caseForRawValue(appModeAllCases(), raw);
}

// MARK: - GuardPowerProfile

GuardPowerProfile::GuardPowerProfile(int batteryCutoffPercent_, int warningPercent_,
                                     double idleGracePeriodSeconds_, double cpuThresholdPercent_,
                                     bool allowUnlimitedKeepAwake_, bool sleepAfterCompletion_,
                                     bool sleepOnlyIfLidClosed_)
    : batteryCutoffPercent(batteryCutoffPercent_), warningPercent(warningPercent_),
      idleGracePeriodSeconds(idleGracePeriodSeconds_), cpuThresholdPercent(cpuThresholdPercent_),
      allowUnlimitedKeepAwake(allowUnlimitedKeepAwake_),
      sleepAfterCompletion(sleepAfterCompletion_), sleepOnlyIfLidClosed(sleepOnlyIfLidClosed_) {}

std::optional<GuardPowerProfile> GuardPowerProfile::fromJSON(std::string_view text) {
    return decodeText<GuardPowerProfile>(
        text, [](const json& value) { return decodeProfile(value, "profile"); });
}

std::string GuardPowerProfile::toJSON() const {
    return json(*this).dump();
}

// MARK: - GuardSettings

GuardSettings::GuardSettings(std::optional<GuardPowerProfile> batteryProfile_,
                             std::optional<GuardPowerProfile> pluggedInProfile_,
                             int batteryCutoffPercent_, int warningPercent_,
                             double idleGracePeriodSeconds_, double cpuThresholdPercent_,
                             std::vector<std::string> targetApps_,
                             std::vector<std::string> activePhrases_,
                             std::vector<std::string> idlePhrases_,
                             bool accessibilityDetectionEnabled_, bool launchAtLoginEnabled_,
                             bool allowUnlimitedWhilePluggedIn_, bool sleepAfterCompletion_,
                             bool sleepOnlyIfLidClosed_, bool restoreNormalSleepOnQuit_,
                             std::vector<std::string> disabledAgentIDs_, bool enableBrowsers_,
                             bool keepAwakeWithLidClosed_, bool letDisplaySleep_)
    : batteryProfile(batteryProfile_.value_or(GuardPowerProfile(
          batteryCutoffPercent_, warningPercent_, idleGracePeriodSeconds_, cpuThresholdPercent_,
          false, sleepAfterCompletion_, sleepOnlyIfLidClosed_))),
      pluggedInProfile(pluggedInProfile_.value_or(GuardPowerProfile(
          batteryCutoffPercent_, warningPercent_, idleGracePeriodSeconds_, cpuThresholdPercent_,
          allowUnlimitedWhilePluggedIn_, sleepAfterCompletion_, sleepOnlyIfLidClosed_))),
      targetApps(std::move(targetApps_)), activePhrases(std::move(activePhrases_)),
      idlePhrases(std::move(idlePhrases_)),
      accessibilityDetectionEnabled(accessibilityDetectionEnabled_),
      launchAtLoginEnabled(launchAtLoginEnabled_),
      restoreNormalSleepOnQuit(restoreNormalSleepOnQuit_),
      disabledAgentIDs(std::move(disabledAgentIDs_)), enableBrowsers(enableBrowsers_),
      keepAwakeWithLidClosed(keepAwakeWithLidClosed_), letDisplaySleep(letDisplaySleep_) {}

GuardSettings GuardSettings::defaults() {
    return GuardSettings(std::nullopt, std::nullopt, 20, 30, 90.0, 8.0, defaultTargetApps(),
                         defaultActivePhrases(), defaultIdlePhrases(), true, false, true, true,
                         true, true, {}, false, false, false);
}

const std::vector<std::string>& GuardSettings::defaultTargetApps() {
    static const std::vector<std::string> apps;
    return apps;
}

const std::vector<std::string>& GuardSettings::defaultActivePhrases() {
    static const std::vector<std::string> phrases{
        "Stop generating",        "Generating",       "Thinking",
        "Waiting for permission", "Codex is working", "Claude is working",
        "Working on it",          "Running task",     "Applying changes"};
    return phrases;
}

const std::vector<std::string>& GuardSettings::defaultIdlePhrases() {
    static const std::vector<std::string> phrases{"Send", "Ask",      "New chat",
                                                  "Done", "Finished", "Completed"};
    return phrases;
}

const std::set<std::string>& GuardSettings::legacyManagedNames() {
    static const std::set<std::string> names{"claude",
                                             "claude desktop",
                                             "codex",
                                             "codex desktop",
                                             "chatgpt",
                                             "cursor",
                                             "visual studio code",
                                             "code",
                                             "windsurf",
                                             "zed",
                                             "google chrome",
                                             "arc",
                                             "safari",
                                             "firefox",
                                             "comet",
                                             "terminal",
                                             "iterm2",
                                             "iterm"};
    return names;
}

std::vector<std::string>
GuardSettings::migrateLegacyTargets(const std::vector<std::string>& targets) {
    std::vector<std::string> kept;
    for (const auto& entry : targets) {
        const std::string trimmedEntry = UnicodeText::trimmed(entry);
        if (trimmedEntry.empty() ||
            legacyManagedNames().contains(UnicodeText::foldCase(trimmedEntry))) {
            continue;
        }
        kept.push_back(entry);
    }
    return kept;
}

GuardPowerProfile GuardSettings::profileFor(const PowerSnapshot& power) const {
    return power.isOnACPower ? pluggedInProfile : batteryProfile;
}

int GuardSettings::batteryCutoffPercent() const {
    return batteryProfile.batteryCutoffPercent;
}
void GuardSettings::setBatteryCutoffPercent(int value) {
    batteryProfile.batteryCutoffPercent = value;
}

int GuardSettings::warningPercent() const {
    return batteryProfile.warningPercent;
}
void GuardSettings::setWarningPercent(int value) {
    batteryProfile.warningPercent = value;
}

double GuardSettings::idleGracePeriodSeconds() const {
    return batteryProfile.idleGracePeriodSeconds;
}
void GuardSettings::setIdleGracePeriodSeconds(double value) {
    batteryProfile.idleGracePeriodSeconds = value;
    pluggedInProfile.idleGracePeriodSeconds = value;
}

double GuardSettings::cpuThresholdPercent() const {
    return batteryProfile.cpuThresholdPercent;
}
void GuardSettings::setCpuThresholdPercent(double value) {
    batteryProfile.cpuThresholdPercent = value;
    pluggedInProfile.cpuThresholdPercent = value;
}

bool GuardSettings::allowUnlimitedWhilePluggedIn() const {
    return pluggedInProfile.allowUnlimitedKeepAwake;
}
void GuardSettings::setAllowUnlimitedWhilePluggedIn(bool value) {
    pluggedInProfile.allowUnlimitedKeepAwake = value;
}

bool GuardSettings::sleepAfterCompletion() const {
    return batteryProfile.sleepAfterCompletion;
}
void GuardSettings::setSleepAfterCompletion(bool value) {
    batteryProfile.sleepAfterCompletion = value;
    pluggedInProfile.sleepAfterCompletion = value;
}

bool GuardSettings::sleepOnlyIfLidClosed() const {
    return batteryProfile.sleepOnlyIfLidClosed;
}
void GuardSettings::setSleepOnlyIfLidClosed(bool value) {
    batteryProfile.sleepOnlyIfLidClosed = value;
    pluggedInProfile.sleepOnlyIfLidClosed = value;
}

std::optional<GuardSettings> GuardSettings::fromJSON(std::string_view text) {
    return decodeText<GuardSettings>(text, decodeSettings);
}

std::string GuardSettings::toJSON() const {
    return json(*this).dump();
}

// MARK: - JSON building blocks

void to_json(json& value, SignalStrength strength) {
    value = rawValue(strength);
}
void from_json(const json& value, SignalStrength& strength) {
    strength = decodeSignalStrength(value, "strength");
}

void to_json(json& value, LidState state) {
    value = rawValue(state);
}
void from_json(const json& value, LidState& state) {
    state = decodeRawValue(value, kLidStates, "lid state");
}

void to_json(json& value, GuardStatus status) {
    value = rawValue(status);
}
void from_json(const json& value, GuardStatus& status) {
    status = decodeRawValue(value, kGuardStatuses, "status");
}

void to_json(json& value, AppMode mode) {
    value = rawValue(mode);
}
void from_json(const json& value, AppMode& mode) {
    mode = decodeRawValue(value, appModeAllCases(), "mode");
}

void to_json(json& value, const ActivitySignal& signal) {
    value = json::object();
    value["strength"] = signal.strength;
    if (signal.appName) {
        value["appName"] = *signal.appName;
    }
    value["reason"] = signal.reason;
    if (signal.matchedText) {
        value["matchedText"] = *signal.matchedText;
    }
    if (signal.sessionCount) {
        value["sessionCount"] = *signal.sessionCount;
    }
    if (signal.processPresent) {
        value["processPresent"] = *signal.processPresent;
    }
}
void from_json(const json& value, ActivitySignal& signal) {
    signal = decodeActivitySignal(value);
}

void to_json(json& value, const PowerSnapshot& power) {
    value = json::object();
    value["isOnACPower"] = power.isOnACPower;
    if (power.batteryPercent) {
        value["batteryPercent"] = *power.batteryPercent;
    }
    value["rawDescription"] = power.rawDescription;
}
void from_json(const json& value, PowerSnapshot& power) {
    power = decodePowerSnapshot(value);
}

void to_json(json& value, const GuardPowerProfile& profile) {
    value = json{
        {"batteryCutoffPercent", profile.batteryCutoffPercent},
        {"warningPercent", profile.warningPercent},
        {"idleGracePeriodSeconds", profile.idleGracePeriodSeconds},
        {"cpuThresholdPercent", profile.cpuThresholdPercent},
        {"allowUnlimitedKeepAwake", profile.allowUnlimitedKeepAwake},
        {"sleepAfterCompletion", profile.sleepAfterCompletion},
        {"sleepOnlyIfLidClosed", profile.sleepOnlyIfLidClosed},
    };
}

void to_json(json& value, const GuardSettings& settings) {
    value = json{
        {"batteryProfile", settings.batteryProfile},
        {"pluggedInProfile", settings.pluggedInProfile},
        {"targetApps", settings.targetApps},
        {"activePhrases", settings.activePhrases},
        {"idlePhrases", settings.idlePhrases},
        {"accessibilityDetectionEnabled", settings.accessibilityDetectionEnabled},
        {"statusRecordDetectionEnabled", settings.statusRecordDetectionEnabled},
        {"launchAtLoginEnabled", settings.launchAtLoginEnabled},
        {"restoreNormalSleepOnQuit", settings.restoreNormalSleepOnQuit},
        {"disabledAgentIDs", settings.disabledAgentIDs},
        {"enableBrowsers", settings.enableBrowsers},
        {"keepAwakeWithLidClosed", settings.keepAwakeWithLidClosed},
        {"letDisplaySleep", settings.letDisplaySleep},
        {"notifyWorkDone", settings.notifications.workDone},
        {"notifySafety", settings.notifications.safety},
        {"notifyBatteryWarning", settings.notifications.batteryWarning},
        {"notifyProblems", settings.notifications.problems},
    };
}

} // namespace nodwarden
