#include <NodwardenCore/model/GuardSettings.hpp>

#include <NodwardenCore/system/JSONDecoding.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <nlohmann/json.hpp>

namespace nodwarden {

using nlohmann::json;
using namespace JSONDecoding;

namespace {

GuardSettings decodeSettings(const json& value) {
    const json& object = requireObject(value, "settings");
    GuardSettings settings = GuardSettings::defaults();

    // Older versions stored one set of profile fields flat at the top level, for both power
    // sources: an absent profile is its default with them laid over it. Every legacy key is read,
    // and so type-checked, even when both profiles are present, so a damaged record never passes.
    const auto withLegacyKeys = [&object](GuardPowerProfile profile) {
        readOptionalInto(object, "batteryCutoffPercent", readInt, profile.batteryCutoffPercent);
        readOptionalInto(object, "warningPercent", readInt, profile.warningPercent);
        readOptionalInto(object, "idleGracePeriodSeconds", readDouble,
                         profile.idleGracePeriodSeconds);
        readOptionalInto(object, "cpuThresholdPercent", readDouble, profile.cpuThresholdPercent);
        readOptionalInto(object, "sleepAfterCompletion", readBool, profile.sleepAfterCompletion);
        readOptionalInto(object, "sleepOnlyIfLidClosed", readBool, profile.sleepOnlyIfLidClosed);
        return profile;
    };
    const GuardPowerProfile legacyBattery = withLegacyKeys(settings.batteryProfile);
    GuardPowerProfile legacyPluggedIn = withLegacyKeys(settings.pluggedInProfile);
    readOptionalInto(object, "allowUnlimitedWhilePluggedIn", readBool,
                     legacyPluggedIn.allowUnlimitedKeepAwake);

    const auto readProfile = [](const json& profile, std::string_view key) {
        return decodeGuardPowerProfile(profile, key);
    };
    settings.batteryProfile =
        readOptional(object, "batteryProfile", readProfile).value_or(legacyBattery);
    settings.pluggedInProfile =
        readOptional(object, "pluggedInProfile", readProfile).value_or(legacyPluggedIn);

    readOptionalInto(object, "targetApps", readStringList, settings.targetApps);
    settings.targetApps = GuardSettings::migrateLegacyTargets(settings.targetApps);
    readOptionalInto(object, "activePhrases", readStringList, settings.activePhrases);
    readOptionalInto(object, "idlePhrases", readStringList, settings.idlePhrases);
    readOptionalInto(object, "accessibilityDetectionEnabled", readBool,
                     settings.accessibilityDetectionEnabled);
    readOptionalInto(object, "statusRecordDetectionEnabled", readBool,
                     settings.statusRecordDetectionEnabled);
    readOptionalInto(object, "launchAtLoginEnabled", readBool, settings.launchAtLoginEnabled);
    readOptionalInto(object, "restoreNormalSleepOnQuit", readBool,
                     settings.restoreNormalSleepOnQuit);
    readOptionalInto(object, "disabledAgentIDs", readStringList, settings.disabledAgentIDs);
    readOptionalInto(object, "enableBrowsers", readBool, settings.enableBrowsers);
    readOptionalInto(object, "keepAwakeWithLidClosed", readBool, settings.keepAwakeWithLidClosed);
    readOptionalInto(object, "letDisplaySleep", readBool, settings.letDisplaySleep);
    readOptionalInto(object, "keepAwakeWhileAgentWaits", readBool,
                     settings.keepAwakeWhileAgentWaits);
    NotificationChoices& notifications = settings.notifications;
    readOptionalInto(object, "notifyWorkDone", readBool, notifications.workDone);
    readOptionalInto(object, "notifyWorkDoneAfterGrace", readBool,
                     notifications.workDoneAfterGrace);
    readOptionalInto(object, "notifySafety", readBool, notifications.safety);
    readOptionalInto(object, "notifyBatteryWarning", readBool, notifications.batteryWarning);
    readOptionalInto(object, "notifyProblems", readBool, notifications.problems);
    return settings;
}

} // namespace

// MARK: - GuardSettings

GuardSettings GuardSettings::defaults() {
    return {};
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
        {"keepAwakeWhileAgentWaits", settings.keepAwakeWhileAgentWaits},
        {"notifyWorkDone", settings.notifications.workDone},
        {"notifyWorkDoneAfterGrace", settings.notifications.workDoneAfterGrace},
        {"notifySafety", settings.notifications.safety},
        {"notifyBatteryWarning", settings.notifications.batteryWarning},
        {"notifyProblems", settings.notifications.problems},
    };
}

} // namespace nodwarden
