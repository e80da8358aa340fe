#include <NodwardenCore/GuardSettings.hpp>

#include <NodwardenCore/JSONDecoding.hpp>
#include <NodwardenCore/UnicodeText.hpp>

#include <nlohmann/json.hpp>

#include <utility>

namespace nodwarden {

using nlohmann::json;
using namespace JSONDecoding;

namespace {

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
        return decodeGuardPowerProfile(profile, key);
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

} // namespace

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
