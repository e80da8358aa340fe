#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/GuardPowerProfile.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/GuardStatus.hpp>
#include <NodwardenCore/model/PowerState.hpp>
#include <NodwardenCore/model/ReasonCode.hpp>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace nodwarden;
using nlohmann::json;

namespace {

const std::vector<std::string> profileKeys{"batteryCutoffPercent",    "warningPercent",
                                           "idleGracePeriodSeconds",  "cpuThresholdPercent",
                                           "allowUnlimitedKeepAwake", "sleepAfterCompletion",
                                           "sleepOnlyIfLidClosed"};

json validProfileJSON() {
    return json{{"batteryCutoffPercent", 15},       {"warningPercent", 25},
                {"idleGracePeriodSeconds", 45.5},   {"cpuThresholdPercent", 12.0},
                {"allowUnlimitedKeepAwake", false}, {"sleepAfterCompletion", false},
                {"sleepOnlyIfLidClosed", true}};
}

std::vector<std::string> sortedKeys(const json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) {
        keys.push_back(item.key());
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace

// MARK: - Settings decoding

TEST(GuardSettingsDecoding, EmptyObjectDecodesToFreshInstallationDefaults) {
    const auto decoded = GuardSettings::fromJSON("{}");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, GuardSettings::defaults());

    const GuardPowerProfile battery{.batteryCutoffPercent = 20,
                                    .warningPercent = 30,
                                    .idleGracePeriodSeconds = 90.0,
                                    .cpuThresholdPercent = 8.0,
                                    .allowUnlimitedKeepAwake = false,
                                    .sleepAfterCompletion = true,
                                    .sleepOnlyIfLidClosed = true};
    const GuardPowerProfile pluggedIn{.batteryCutoffPercent = 20,
                                      .warningPercent = 30,
                                      .idleGracePeriodSeconds = 90.0,
                                      .cpuThresholdPercent = 8.0,
                                      .allowUnlimitedKeepAwake = true,
                                      .sleepAfterCompletion = true,
                                      .sleepOnlyIfLidClosed = true};
    EXPECT_EQ(decoded->batteryProfile, battery);
    EXPECT_EQ(decoded->pluggedInProfile, pluggedIn);
    EXPECT_TRUE(decoded->targetApps.empty());
    EXPECT_EQ(decoded->activePhrases.size(), 9u);
    EXPECT_EQ(decoded->idlePhrases.size(), 6u);
    EXPECT_TRUE(decoded->accessibilityDetectionEnabled);
    EXPECT_TRUE(decoded->statusRecordDetectionEnabled) << "settings stored before the switch";
    EXPECT_FALSE(decoded->launchAtLoginEnabled);
    EXPECT_TRUE(decoded->restoreNormalSleepOnQuit);
    EXPECT_TRUE(decoded->disabledAgentIDs.empty());
    EXPECT_FALSE(decoded->enableBrowsers);
    EXPECT_FALSE(decoded->keepAwakeWithLidClosed);
    EXPECT_FALSE(decoded->letDisplaySleep);
    EXPECT_EQ(decoded->notifications,
              (NotificationChoices{
                  .workDone = true, .safety = true, .batteryWarning = false, .problems = false}));
}

TEST(GuardSettingsDecoding, LegacyFlatFormCarriesIntoBothProfiles) {
    const auto withUnlimitedOff = GuardSettings::fromJSON(
        R"({"idleGracePeriodSeconds": 120, "allowUnlimitedWhilePluggedIn": false,
            "batteryCutoffPercent": 10, "warningPercent": 40, "cpuThresholdPercent": 3.5,
            "sleepAfterCompletion": false, "sleepOnlyIfLidClosed": false})");
    ASSERT_TRUE(withUnlimitedOff.has_value());
    for (const auto* profile :
         {&withUnlimitedOff->batteryProfile, &withUnlimitedOff->pluggedInProfile}) {
        EXPECT_EQ(*profile, (GuardPowerProfile{.batteryCutoffPercent = 10,
                                               .warningPercent = 40,
                                               .idleGracePeriodSeconds = 120.0,
                                               .cpuThresholdPercent = 3.5,
                                               .allowUnlimitedKeepAwake = false,
                                               .sleepAfterCompletion = false,
                                               .sleepOnlyIfLidClosed = false}));
    }

    const auto withUnlimitedAbsent = GuardSettings::fromJSON(R"({"idleGracePeriodSeconds": 120})");
    ASSERT_TRUE(withUnlimitedAbsent.has_value());
    EXPECT_FALSE(withUnlimitedAbsent->batteryProfile.allowUnlimitedKeepAwake);
    EXPECT_TRUE(withUnlimitedAbsent->pluggedInProfile.allowUnlimitedKeepAwake);
    EXPECT_EQ(withUnlimitedAbsent->batteryProfile.idleGracePeriodSeconds, 120.0);
    EXPECT_EQ(withUnlimitedAbsent->pluggedInProfile.idleGracePeriodSeconds, 120.0);
}

TEST(GuardSettingsDecoding, GivenProfilesWinOverLegacyKeys) {
    json stored{{"batteryProfile", validProfileJSON()}, {"idleGracePeriodSeconds", 300}};
    const auto decoded = GuardSettings::fromJSON(stored.dump());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->batteryProfile, (GuardPowerProfile{.batteryCutoffPercent = 15,
                                                          .warningPercent = 25,
                                                          .idleGracePeriodSeconds = 45.5,
                                                          .cpuThresholdPercent = 12.0,
                                                          .allowUnlimitedKeepAwake = false,
                                                          .sleepAfterCompletion = false,
                                                          .sleepOnlyIfLidClosed = true}));
    // The absent plugged-in profile is still built from the legacy keys.
    EXPECT_EQ(decoded->pluggedInProfile.idleGracePeriodSeconds, 300.0);
    EXPECT_TRUE(decoded->pluggedInProfile.allowUnlimitedKeepAwake);
}

TEST(GuardSettingsDecoding, NestedProfileMissingAnyKeyFailsTheWholeDecoding) {
    for (const auto& key : profileKeys) {
        for (const char* slot : {"batteryProfile", "pluggedInProfile"}) {
            json profile = validProfileJSON();
            profile.erase(key);
            EXPECT_FALSE(GuardSettings::fromJSON(json{{slot, profile}}.dump()).has_value())
                << slot << " without " << key;
        }
    }
}

TEST(GuardSettingsDecoding, WrongTypesFailTheWholeDecoding) {
    struct Case {
        const char* name;
        json stored;
    };
    json profileWithFloatCutoff = validProfileJSON();
    profileWithFloatCutoff["batteryCutoffPercent"] = 20.5;
    json profileWithStringGrace = validProfileJSON();
    profileWithStringGrace["idleGracePeriodSeconds"] = "90";
    json profileWithNumericFlag = validProfileJSON();
    profileWithNumericFlag["sleepOnlyIfLidClosed"] = 1;

    const std::vector<Case> cases{
        {"integer given as float", {{"batteryCutoffPercent", 20.0}}},
        {"integer given as bool", {{"warningPercent", true}}},
        {"integer given as string", {{"warningPercent", "30"}}},
        {"integer out of range", {{"batteryCutoffPercent", 4294967296LL}}},
        {"double given as string", {{"cpuThresholdPercent", "8"}}},
        {"double given as bool", {{"idleGracePeriodSeconds", false}}},
        {"bool given as integer", {{"enableBrowsers", 0}}},
        {"bool given as string", {{"letDisplaySleep", "false"}}},
        {"list given as string", {{"targetApps", "Aider"}}},
        {"list with a number", {{"activePhrases", json::array({"Thinking", 3})}}},
        {"profile given as array", {{"pluggedInProfile", json::array()}}},
        {"profile with float integer", {{"batteryProfile", profileWithFloatCutoff}}},
        {"profile with string double", {{"batteryProfile", profileWithStringGrace}}},
        {"profile with numeric flag", {{"pluggedInProfile", profileWithNumericFlag}}},
        // A damaged legacy key fails even though both profiles are present and valid.
        {"legacy key beside profiles",
         {{"batteryProfile", validProfileJSON()},
          {"pluggedInProfile", validProfileJSON()},
          {"allowUnlimitedWhilePluggedIn", "yes"}}},
    };
    for (const auto& testCase : cases) {
        EXPECT_FALSE(GuardSettings::fromJSON(testCase.stored.dump()).has_value()) << testCase.name;
    }
}

TEST(GuardSettingsDecoding, MalformedOrNonObjectTextFails) {
    for (const char* text : {"", "{", "[]", "null", "42", "\"settings\"", "{} trailing",
                             "{\"targetApps\": [\"\xff\"]}"}) {
        EXPECT_FALSE(GuardSettings::fromJSON(text).has_value()) << text;
    }
}

TEST(GuardSettingsDecoding, NullCountsAsAbsentExceptInsideAProfile) {
    const auto decoded = GuardSettings::fromJSON(
        R"({"targetApps": null, "batteryProfile": null, "enableBrowsers": null,
            "idleGracePeriodSeconds": null})");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, GuardSettings::defaults());

    json profile = validProfileJSON();
    profile["warningPercent"] = nullptr;
    EXPECT_FALSE(GuardSettings::fromJSON(json{{"batteryProfile", profile}}.dump()).has_value());
}

TEST(GuardSettingsDecoding, DoubleFieldsAcceptJSONIntegers) {
    json profile = validProfileJSON();
    profile["idleGracePeriodSeconds"] = 600;
    profile["cpuThresholdPercent"] = 0;
    const auto decoded = GuardSettings::fromJSON(json{{"pluggedInProfile", profile}}.dump());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->pluggedInProfile.idleGracePeriodSeconds, 600.0);
    EXPECT_EQ(decoded->pluggedInProfile.cpuThresholdPercent, 0.0);
}

TEST(GuardSettingsDecoding, StoredTargetAppsAreCleanedOfLegacyNames) {
    const auto decoded =
        GuardSettings::fromJSON(R"({"targetApps": ["Cursor", " ", "Aider", "ITERM2"]})");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->targetApps, std::vector<std::string>{"Aider"});
}

// MARK: - Settings encoding

TEST(GuardSettingsEncoding, WritesExactlyTheEighteenCurrentKeys) {
    GuardSettings settings = GuardSettings::defaults();
    settings.setAllowUnlimitedWhilePluggedIn(false);
    const json encoded = json::parse(settings.toJSON());
    std::vector<std::string> expected{"batteryProfile",
                                      "pluggedInProfile",
                                      "targetApps",
                                      "activePhrases",
                                      "idlePhrases",
                                      "accessibilityDetectionEnabled",
                                      "statusRecordDetectionEnabled",
                                      "launchAtLoginEnabled",
                                      "restoreNormalSleepOnQuit",
                                      "disabledAgentIDs",
                                      "enableBrowsers",
                                      "keepAwakeWithLidClosed",
                                      "letDisplaySleep",
                                      "keepAwakeWhileAgentWaits",
                                      "notifyWorkDone",
                                      "notifyWorkDoneAfterGrace",
                                      "notifySafety",
                                      "notifyBatteryWarning",
                                      "notifyProblems"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sortedKeys(encoded), expected);

    std::vector<std::string> expectedProfileKeys = profileKeys;
    std::sort(expectedProfileKeys.begin(), expectedProfileKeys.end());
    for (const char* slot : {"batteryProfile", "pluggedInProfile"}) {
        EXPECT_EQ(sortedKeys(encoded.at(slot)), expectedProfileKeys) << slot;
        EXPECT_TRUE(encoded.at(slot).at("batteryCutoffPercent").is_number_integer());
        EXPECT_TRUE(encoded.at(slot).at("sleepAfterCompletion").is_boolean());
    }
}

TEST(GuardSettingsEncoding, RoundTripGivesAnEqualRecord) {
    const GuardSettings settings{
        .batteryProfile = {.batteryCutoffPercent = 5,
                           .warningPercent = 50,
                           .idleGracePeriodSeconds = 600.25,
                           .cpuThresholdPercent = 0.5,
                           .allowUnlimitedKeepAwake = true,
                           .sleepAfterCompletion = false,
                           .sleepOnlyIfLidClosed = false},
        .pluggedInProfile = {.batteryCutoffPercent = 0,
                             .warningPercent = 100,
                             .idleGracePeriodSeconds = 10.0,
                             .cpuThresholdPercent = 100.0,
                             .allowUnlimitedKeepAwake = false,
                             .sleepAfterCompletion = true,
                             .sleepOnlyIfLidClosed = false},
        .targetApps = {"Aider", " my tool ", "Ünïcode"},
        .activePhrases = {"Working"},
        .idlePhrases = {},
        .accessibilityDetectionEnabled = false,
        .statusRecordDetectionEnabled = false,
        .launchAtLoginEnabled = true,
        .restoreNormalSleepOnQuit = false,
        .disabledAgentIDs = {"claude-code", "cursor"},
        .enableBrowsers = true,
        .keepAwakeWithLidClosed = true,
        .letDisplaySleep = true,
        .notifications = {
            .workDone = false, .safety = false, .batteryWarning = true, .problems = true}};
    const auto decoded = GuardSettings::fromJSON(settings.toJSON());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, settings);

    const auto defaultsDecoded = GuardSettings::fromJSON(GuardSettings::defaults().toJSON());
    ASSERT_TRUE(defaultsDecoded.has_value());
    EXPECT_EQ(*defaultsDecoded, GuardSettings::defaults());
}

// MARK: - Settings accessors

TEST(GuardSettings, CompatibilityAccessorsWriteTheDocumentedProfiles) {
    GuardSettings settings = GuardSettings::defaults();
    settings.setIdleGracePeriodSeconds(300.0);
    settings.setCpuThresholdPercent(25.0);
    settings.setSleepAfterCompletion(false);
    settings.setSleepOnlyIfLidClosed(false);
    for (const auto* profile : {&settings.batteryProfile, &settings.pluggedInProfile}) {
        EXPECT_EQ(profile->idleGracePeriodSeconds, 300.0);
        EXPECT_EQ(profile->cpuThresholdPercent, 25.0);
        EXPECT_FALSE(profile->sleepAfterCompletion);
        EXPECT_FALSE(profile->sleepOnlyIfLidClosed);
    }

    settings.setBatteryCutoffPercent(5);
    settings.setWarningPercent(55);
    EXPECT_EQ(settings.batteryProfile.batteryCutoffPercent, 5);
    EXPECT_EQ(settings.batteryProfile.warningPercent, 55);
    EXPECT_EQ(settings.pluggedInProfile.batteryCutoffPercent, 20);
    EXPECT_EQ(settings.pluggedInProfile.warningPercent, 30);

    settings.setAllowUnlimitedWhilePluggedIn(false);
    EXPECT_FALSE(settings.pluggedInProfile.allowUnlimitedKeepAwake);
    EXPECT_FALSE(settings.allowUnlimitedWhilePluggedIn());

    // Readers take the battery profile even when the plugged-in one differs.
    settings.pluggedInProfile.idleGracePeriodSeconds = 10.0;
    EXPECT_EQ(settings.idleGracePeriodSeconds(), 300.0);
    EXPECT_EQ(settings.batteryCutoffPercent(), 5);
}

TEST(GuardSettings, ProfileForFollowsOnlyThePowerSource) {
    GuardSettings settings = GuardSettings::defaults();
    settings.batteryProfile.idleGracePeriodSeconds = 30.0;
    settings.pluggedInProfile.idleGracePeriodSeconds = 600.0;
    EXPECT_EQ(settings.profileFor(PowerSnapshot{true, std::nullopt, ""}),
              settings.pluggedInProfile);
    EXPECT_EQ(settings.profileFor(PowerSnapshot{true, 3, ""}), settings.pluggedInProfile);
    EXPECT_EQ(settings.profileFor(PowerSnapshot{false, 100, ""}), settings.batteryProfile);
    EXPECT_EQ(settings.profileFor(PowerSnapshot{false, std::nullopt, ""}), settings.batteryProfile);
}

TEST(GuardSettings, MigrateLegacyTargetsKeepsUserEntriesVerbatim) {
    const std::vector<std::string> stored{"  Claude Desktop  ",
                                          "",
                                          " \t\n ",
                                          "Aider",
                                          "VISUAL STUDIO CODE",
                                          "aider ",
                                          "\u00A0safari\u2028",
                                          "Ġoose",
                                          "codex-desktop",
                                          "Terminal\r\n"};
    const std::vector<std::string> expected{"Aider", "aider ", "Ġoose", "codex-desktop"};
    EXPECT_EQ(GuardSettings::migrateLegacyTargets(stored), expected);
}

// MARK: - Modes and small value types

TEST(AppMode, RawValuesRoundTripAndUnknownTextsYieldNoMode) {
    const std::vector<std::pair<AppMode, const char*>> expected{
        {AppMode::off, "Off"},
        {AppMode::manualKeepAwake, "Manual Keep Awake"},
        {AppMode::watchAgentUI, "Watch Agent UI"},
        {AppMode::sleepAfterCurrentWork, "Sleep After Current Work"},
        {AppMode::pluggedInUnlimited, "Plugged-In Unlimited Mode"}};
    ASSERT_EQ(appModeAllCases().size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
        const AppMode mode = appModeAllCases()[index];
        EXPECT_EQ(mode, expected[index].first);
        EXPECT_EQ(displayName(mode), expected[index].second);
        EXPECT_EQ(appModeFromRawValue(rawValue(mode)), mode);
        EXPECT_EQ(json(mode).get<std::string>(), rawValue(mode));
        EXPECT_EQ(json(mode).get<AppMode>(), mode);
    }
    for (const char* raw : {"", "Off", "manual", "watchagentui", "pluggedInUnlimited "}) {
        EXPECT_FALSE(appModeFromRawValue(raw).has_value()) << raw;
    }
}

// Stored signals and `status --json` carry the code by its raw value: each code keeps its own,
// and reads back as itself.
TEST(ReasonCode, EveryCodeHasARawValueOfItsOwnThatReadsBack) {
    std::set<std::string_view> raws;
    for (int index = 0; index <= int(ReasonCode::outOfReach); ++index) {
        const auto code = static_cast<ReasonCode>(index);
        const std::string_view raw = rawValue(code);
        SCOPED_TRACE(raw);
        EXPECT_TRUE(raws.insert(raw).second);
        EXPECT_EQ(reasonCodeFromRawValue(raw), code);
    }
    EXPECT_FALSE(reasonCodeFromRawValue("").has_value());
    EXPECT_FALSE(reasonCodeFromRawValue("OutOfReach").has_value());
}

TEST(SignalStrength, OrderedByRawValueAndOnlyZeroToThreeConvert) {
    EXPECT_LT(SignalStrength::none, SignalStrength::presence);
    EXPECT_GT(SignalStrength::weak, SignalStrength::presence);
    EXPECT_GT(SignalStrength::strong, SignalStrength::weak);
    for (int raw = 0; raw <= 3; ++raw) {
        ASSERT_TRUE(signalStrengthFromRawValue(raw).has_value());
        EXPECT_EQ(rawValue(*signalStrengthFromRawValue(raw)), raw);
    }
    for (int raw : {-1, 4, 100}) {
        EXPECT_FALSE(signalStrengthFromRawValue(raw).has_value()) << raw;
    }
    EXPECT_FALSE(isActiveWork(SignalStrength::presence));
    EXPECT_TRUE(isActiveWork(SignalStrength::weak));
}

TEST(ActivitySignal, TheStrongestIsTheFirstOfTheGreatestStrength) {
    EXPECT_EQ(strongestSignal({}), ActivitySignal::none());
    const auto named = [](SignalStrength strength, const std::string& reason) {
        ActivitySignal signal;
        signal.strength = strength;
        signal.appName = reason;
        signal.reason = reason;
        return signal;
    };
    EXPECT_EQ(
        strongestSignal({named(SignalStrength::presence, "a"), named(SignalStrength::strong, "b"),
                         named(SignalStrength::weak, "c"), named(SignalStrength::strong, "d")})
            .reason,
        "b");
    EXPECT_EQ(strongestSignal({named(SignalStrength::none, "a"), named(SignalStrength::none, "b")})
                  .reason,
              "a")
        << "a pass that found only nothing still says which agent it was about";
}

TEST(ActivitySignal, JSONLeavesOutAbsentFieldsAndRequiresStrengthAndReason) {
    EXPECT_EQ(ActivitySignal::none().reason, "No active agent signal");
    EXPECT_EQ(ActivitySignal::none().strength, SignalStrength::none);

    const json bare = json::parse(ActivitySignal::none().toJSON());
    EXPECT_EQ(bare, (json{{"strength", 0},
                          {"reason", "No active agent signal"},
                          {"reasonCode", "noActiveSignal"}}));

    // The code and its value travel with the sentence.
    const ActivitySignal full{SignalStrength::strong,
                              "Claude Code",
                              "Claude Code session active (12s ago)",
                              "esc to interrupt",
                              2,
                              true,
                              ReasonCode::sessionFileFresh,
                              "12"};
    EXPECT_EQ(ActivitySignal::fromJSON(full.toJSON()), full);
    EXPECT_EQ(ActivitySignal::fromJSON(ActivitySignal::none().toJSON()), ActivitySignal::none());

    for (const char* text :
         {R"({"strength": 3})", R"({"reason": "x"})", R"({"strength": 4, "reason": "x"})",
          R"({"strength": "3", "reason": "x"})",
          R"({"strength": 1, "reason": "x", "sessionCount": 1.5})"}) {
        EXPECT_FALSE(ActivitySignal::fromJSON(text).has_value()) << text;
    }
}

TEST(PowerSnapshot, DisplayNameAndJSON) {
    EXPECT_EQ((PowerSnapshot{true, 85, ""}.displayName()), "85%, AC Power");
    EXPECT_EQ((PowerSnapshot{false, 100, ""}.displayName()), "100%, Battery");
    EXPECT_EQ((PowerSnapshot{true, std::nullopt, ""}.displayName()), "Battery unknown, AC Power");
    EXPECT_EQ((PowerSnapshot{false, std::nullopt, ""}.displayName()), "Battery unknown, Battery");

    const PowerSnapshot noBattery{true, std::nullopt, "Now drawing from 'AC Power'"};
    EXPECT_FALSE(json::parse(noBattery.toJSON()).contains("batteryPercent"));
    EXPECT_EQ(PowerSnapshot::fromJSON(noBattery.toJSON()), noBattery);
    EXPECT_FALSE(PowerSnapshot::fromJSON(R"({"batteryPercent": 50, "rawDescription": ""})"));
}

TEST(StatusAndLid, RawValuesAndDisplayNames) {
    EXPECT_EQ(guardStatusFromRawValue("keepingAwake"), GuardStatus::keepingAwake);
    EXPECT_FALSE(guardStatusFromRawValue("Keeping Awake").has_value());
    EXPECT_EQ(displayName(GuardStatus::pluggedInUnlimited), "Plugged In Unlimited");
    EXPECT_EQ(displayName(GuardStatus::thermalSafety), "Thermal Safety");
    for (const auto status : {GuardStatus::off, GuardStatus::watching, GuardStatus::keepingAwake,
                              GuardStatus::idleGrace, GuardStatus::batterySafety,
                              GuardStatus::thermalSafety, GuardStatus::pluggedInUnlimited}) {
        EXPECT_EQ(guardStatusFromRawValue(rawValue(status)), status);
        EXPECT_EQ(json(status).get<GuardStatus>(), status);
    }
    for (const auto lid : {LidState::open, LidState::closed, LidState::unknown}) {
        EXPECT_EQ(lidStateFromRawValue(rawValue(lid)), lid);
    }
    EXPECT_EQ(displayName(LidState::closed), "Closed");
    EXPECT_FALSE(lidStateFromRawValue("Closed").has_value());
}
