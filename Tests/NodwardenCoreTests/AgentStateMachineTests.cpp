#include <NodwardenCore/model/AgentStateMachine.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace nodwarden;

namespace {

constexpr Date kStart = 800'000'000.0;
constexpr double kGrace = 90.0; // the default idle grace of both profiles

const std::string kOff = "Stayloom is off";
const std::string kBatteryUnknown =
    "Battery level unavailable \u2014 releasing keep-awake to protect the battery";
const std::string kCutoff = "Battery is at or below cutoff";
const std::string kThermal =
    "Thermal pressure is critical \u2014 releasing keep-awake so the Mac can cool down";
const std::string kManual = "Manual keep-awake mode is enabled";
const std::string kUnlimited = "AC power is connected and plugged-in unlimited mode is enabled";
const std::string kGraceReason = "No current active signal; waiting through idle grace";
const std::string kPresent = "Target app is present but no active-work signal was found";
const std::string kNoSignal = "No active agent signal";
const std::string kWorking = "Claude Code is using 42% CPU";

PowerSnapshot mains() {
    return PowerSnapshot{true, std::nullopt, "AC"};
}
PowerSnapshot onBattery(std::optional<int> percent) {
    return PowerSnapshot{false, percent, "Batt"};
}

ActivitySignal withStrength(SignalStrength strength) {
    ActivitySignal signal = ActivitySignal::none();
    signal.strength = strength;
    signal.appName = "Claude Code";
    if (strength == SignalStrength::strong || strength == SignalStrength::weak) {
        signal.reason = kWorking;
    }
    return signal;
}

const ActivitySignal kStrong = withStrength(SignalStrength::strong);
const ActivitySignal kWeak = withStrength(SignalStrength::weak);
const ActivitySignal kPresence = withStrength(SignalStrength::presence);
const ActivitySignal kNone = ActivitySignal::none();

/// The inputs of one evaluation, with the common ones defaulted.
struct Inputs {
    AppMode mode = AppMode::watchAgentUI;
    PowerSnapshot power = mains();
    LidState lid = LidState::open;
    ActivitySignal signal = kNone;
    bool preventing = false;
    ThermalState thermal = ThermalState::nominal;
};

/// One evaluation at `offset` seconds after the start and what it must decide.
struct Step {
    double offset;
    Inputs inputs;
    GuardStatus status;
    bool sleepNow = false;
    std::optional<std::string> reason = std::nullopt;
};

bool preventsFor(GuardStatus status) {
    return status == GuardStatus::keepingAwake || status == GuardStatus::idleGrace ||
           status == GuardStatus::pluggedInUnlimited;
}

void runSequence(AgentStateMachine& machine, const GuardSettings& settings,
                 const std::vector<Step>& steps, const std::string& name) {
    for (std::size_t index = 0; index < steps.size(); ++index) {
        const Step& step = steps[index];
        const Inputs& in = step.inputs;
        const GuardDecision decision =
            machine.evaluate(in.mode, settings, in.power, in.lid, in.signal, in.preventing,
                             in.thermal, kStart + step.offset);
        const std::string where =
            name + ", step " + std::to_string(index) + " at +" + std::to_string(step.offset) + "s";
        EXPECT_EQ(rawValue(decision.status), rawValue(step.status)) << where;
        EXPECT_EQ(decision.shouldPreventSleep, preventsFor(step.status)) << where;
        EXPECT_EQ(decision.shouldSleepNow, step.sleepNow) << where;
        EXPECT_EQ(decision.detectedAppName, in.signal.appName) << where;
        if (step.reason) {
            EXPECT_EQ(decision.reason, *step.reason) << where;
        }
    }
}

void runSequence(const GuardSettings& settings, const std::vector<Step>& steps,
                 const std::string& name) {
    AgentStateMachine machine;
    runSequence(machine, settings, steps, name);
}

GuardSettings withProfiles(bool sleepAfterCompletion, bool sleepOnlyIfLidClosed) {
    GuardSettings settings = GuardSettings::defaults();
    settings.setSleepAfterCompletion(sleepAfterCompletion);
    settings.setSleepOnlyIfLidClosed(sleepOnlyIfLidClosed);
    return settings;
}

} // namespace

// MARK: - Precedence

TEST(AgentStateMachine, FirstMatchingRuleDecides) {
    const auto settings = GuardSettings::defaults();
    const auto closedAndHot = [](Inputs in) {
        in.lid = LidState::closed;
        in.thermal = ThermalState::critical;
        in.preventing = true;
        in.signal = kStrong;
        return in;
    };
    struct Case {
        const char* name;
        Inputs inputs;
        GuardStatus status;
        bool sleepNow;
        std::string reason;
    };
    const std::vector<Case> cases{
        {"off beats everything", closedAndHot({.mode = AppMode::off, .power = onBattery(5)}),
         GuardStatus::off, false, kOff},
        {"unknown battery beats thermal and manual",
         closedAndHot({.mode = AppMode::manualKeepAwake, .power = onBattery(std::nullopt)}),
         GuardStatus::watching, false, kBatteryUnknown},
        {"cutoff beats thermal and manual and asks for sleep when holding",
         closedAndHot({.mode = AppMode::manualKeepAwake, .power = onBattery(20)}),
         GuardStatus::batterySafety, true, kCutoff},
        {"cutoff without holding does not ask for sleep",
         {.mode = AppMode::pluggedInUnlimited, .power = onBattery(3), .preventing = false},
         GuardStatus::batterySafety,
         false,
         kCutoff},
        {"thermal beats manual, closed lid and holding asks for sleep",
         closedAndHot({.mode = AppMode::manualKeepAwake}), GuardStatus::thermalSafety, true,
         kThermal},
        {"thermal with open lid releases without sleep",
         {.signal = kStrong, .preventing = true, .thermal = ThermalState::critical},
         GuardStatus::thermalSafety,
         false,
         kThermal},
        {"thermal with closed lid but not holding releases without sleep",
         {.lid = LidState::closed, .preventing = false, .thermal = ThermalState::critical},
         GuardStatus::thermalSafety,
         false,
         kThermal},
        {"serious thermal pressure changes nothing",
         {.signal = kStrong, .thermal = ThermalState::serious},
         GuardStatus::keepingAwake,
         false,
         kWorking},
        {"manual beats an active signal",
         {.mode = AppMode::manualKeepAwake, .signal = kStrong},
         GuardStatus::keepingAwake,
         false,
         kManual},
        {"manual on battery above the cutoff keeps awake",
         {.mode = AppMode::manualKeepAwake, .power = onBattery(21)},
         GuardStatus::keepingAwake,
         false,
         kManual},
        {"unlimited on mains beats an active signal",
         {.mode = AppMode::pluggedInUnlimited, .signal = kStrong},
         GuardStatus::pluggedInUnlimited,
         false,
         kUnlimited},
        {"unlimited on battery behaves like watching",
         {.mode = AppMode::pluggedInUnlimited, .power = onBattery(80), .signal = kStrong},
         GuardStatus::keepingAwake,
         false,
         kWorking},
        {"weak signal is active work",
         {.signal = kWeak},
         GuardStatus::keepingAwake,
         false,
         kWorking},
        {"presence alone only watches",
         {.signal = kPresence},
         GuardStatus::watching,
         false,
         kPresent},
        {"nothing at all", {}, GuardStatus::watching, false, kNoSignal},
        {"fresh machine never sleeps, even with the lid closed",
         {.mode = AppMode::sleepAfterCurrentWork, .lid = LidState::closed, .preventing = true},
         GuardStatus::watching,
         false,
         kNoSignal},
    };
    for (const auto& testCase : cases) {
        runSequence(settings,
                    {{0, testCase.inputs, testCase.status, testCase.sleepNow, testCase.reason}},
                    testCase.name);
    }
}

TEST(AgentStateMachine, UnlimitedModeNeedsThePluggedInProfileToAllowIt) {
    GuardSettings settings = GuardSettings::defaults();
    settings.setAllowUnlimitedWhilePluggedIn(false);
    // The battery profile's flag is never consulted.
    settings.batteryProfile.allowUnlimitedKeepAwake = true;
    runSequence(settings, {{0, {.mode = AppMode::pluggedInUnlimited}, GuardStatus::watching}},
                "unlimited not allowed");
}

// MARK: - Battery warning

TEST(AgentStateMachine, BatteryWarningBandUsesTheBatteryProfileOnly) {
    GuardSettings settings = GuardSettings::defaults(); // cutoff 20, warning 30
    settings.pluggedInProfile.warningPercent = 90;
    struct Case {
        PowerSnapshot power;
        AppMode mode;
        bool warning;
    };
    const std::vector<Case> cases{
        {onBattery(30), AppMode::watchAgentUI, true},
        {onBattery(31), AppMode::watchAgentUI, false},
        {onBattery(21), AppMode::watchAgentUI, true},
        {onBattery(20), AppMode::watchAgentUI, false}, // battery safety instead
        {onBattery(25), AppMode::off, true},
        {onBattery(20), AppMode::off, false},
        {onBattery(25), AppMode::manualKeepAwake, true},
        {PowerSnapshot{true, 25, ""}, AppMode::watchAgentUI, false},
        {PowerSnapshot{true, 5, ""}, AppMode::pluggedInUnlimited, false},
    };
    for (const auto& testCase : cases) {
        AgentStateMachine machine;
        const auto decision =
            machine.evaluate(testCase.mode, settings, testCase.power, LidState::open, kNone, false,
                             ThermalState::nominal, kStart);
        EXPECT_EQ(decision.isBatteryWarning, testCase.warning)
            << testCase.power.displayName() << " in " << rawValue(testCase.mode);
    }
}

// MARK: - Grace and completion sleep over time

TEST(AgentStateMachine, SequencesOverTime) {
    const Inputs strong{.signal = kStrong};
    const Inputs quiet{};
    const Inputs quietClosed{.lid = LidState::closed, .preventing = true};
    const Inputs presentClosed{.lid = LidState::closed, .signal = kPresence, .preventing = true};

    struct Sequence {
        const char* name;
        GuardSettings settings;
        std::vector<Step> steps;
    };
    const std::vector<Sequence> sequences{
        {"grace runs to T + grace exclusive, open lid with defaults never sleeps",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake, false, kWorking},
          {3, quiet, GuardStatus::idleGrace, false, kGraceReason},
          {kGrace - 0.001, quiet, GuardStatus::idleGrace},
          {kGrace, quiet, GuardStatus::watching, false, kNoSignal},
          {kGrace + 600, quiet, GuardStatus::watching}}},
        {"closed lid sleeps once after the grace, whatever the profile says",
         withProfiles(false, true),
         {{0, strong, GuardStatus::keepingAwake},
          {kGrace - 1, quietClosed, GuardStatus::idleGrace},
          {kGrace, presentClosed, GuardStatus::watching, true, kPresent},
          {kGrace + 3, quietClosed, GuardStatus::watching, false},
          {kGrace + 6, presentClosed, GuardStatus::watching, false}}},
        {"presence does not extend the grace",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {kGrace - 1, {.signal = kPresence}, GuardStatus::idleGrace},
          {kGrace, {.signal = kPresence}, GuardStatus::watching, false, kPresent}}},
        {"new work re-arms the one-shot sleep",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {kGrace, quietClosed, GuardStatus::watching, true},
          {kGrace + 10, strong, GuardStatus::keepingAwake},
          {2 * kGrace + 10, quietClosed, GuardStatus::watching, true},
          {2 * kGrace + 13, quietClosed, GuardStatus::watching, false}}},
        {"finished without sleep, then the lid closes: one sleep",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {kGrace, quiet, GuardStatus::watching, false},
          {kGrace + 300, quietClosed, GuardStatus::watching, true},
          {kGrace + 303, quietClosed, GuardStatus::watching, false}}},
        {"sleep after current work with defaults and an open lid does not sleep",
         GuardSettings::defaults(),
         {{0,
           {.mode = AppMode::sleepAfterCurrentWork, .signal = kStrong},
           GuardStatus::keepingAwake},
          {kGrace, {.mode = AppMode::sleepAfterCurrentWork}, GuardStatus::watching, false}}},
        {"sleep after current work, lid restriction off: sleeps once with the lid open",
         withProfiles(false, false),
         {{0,
           {.mode = AppMode::sleepAfterCurrentWork, .signal = kStrong},
           GuardStatus::keepingAwake},
          {kGrace, {.mode = AppMode::sleepAfterCurrentWork}, GuardStatus::watching, true},
          {kGrace + 3, {.mode = AppMode::sleepAfterCurrentWork}, GuardStatus::watching, false}}},
        {"watch mode sleeps with the lid open only when sleep after completion is on",
         withProfiles(true, false),
         {{0, strong, GuardStatus::keepingAwake}, {kGrace, quiet, GuardStatus::watching, true}}},
        {"watch mode, lid restriction off but sleep after completion off: no sleep",
         withProfiles(false, false),
         {{0, strong, GuardStatus::keepingAwake}, {kGrace, quiet, GuardStatus::watching, false}}},
        {"battery cutoff sleep is not repeated by the finished rule",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {3, {.power = onBattery(20), .preventing = true}, GuardStatus::batterySafety, true},
          {kGrace + 3, {.lid = LidState::closed}, GuardStatus::watching, false}}},
        {"thermal sleep with the lid closed is not repeated by the finished rule",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {3,
           {.lid = LidState::closed, .preventing = true, .thermal = ThermalState::critical},
           GuardStatus::thermalSafety,
           true},
          {kGrace + 3, quietClosed, GuardStatus::watching, false}}},
        {"manual keep-awake re-arms the completion sleep",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {kGrace, quietClosed, GuardStatus::watching, true},
          {kGrace + 3, {.mode = AppMode::manualKeepAwake}, GuardStatus::keepingAwake},
          {kGrace + 6, quietClosed, GuardStatus::watching, true}}},
        {"mode off forgets the work: no sleep afterwards",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {3, {.mode = AppMode::off}, GuardStatus::off},
          {kGrace + 3, quietClosed, GuardStatus::watching, false}}},
        {"unknown battery leaves the grace running",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {3, {.power = onBattery(std::nullopt)}, GuardStatus::watching, false, kBatteryUnknown},
          {6, quiet, GuardStatus::idleGrace}}},
    };
    for (const auto& sequence : sequences) {
        runSequence(sequence.settings, sequence.steps, sequence.name);
    }
}

TEST(AgentStateMachine, GraceUsesTheProfileInForceAtEachEvaluation) {
    GuardSettings settings = GuardSettings::defaults();
    settings.batteryProfile.idleGracePeriodSeconds = 30.0;
    settings.pluggedInProfile.idleGracePeriodSeconds = 300.0;
    runSequence(settings,
                {{0, {.signal = kStrong}, GuardStatus::keepingAwake},
                 {60, {}, GuardStatus::idleGrace},
                 {61, {.power = onBattery(80)}, GuardStatus::watching},
                 {62, {}, GuardStatus::idleGrace},
                 {300, {}, GuardStatus::watching}},
                "unplugging shortens the grace");
}

TEST(AgentStateMachine, ClockStepBackwardsHoldsGraceForAtMostOneGracePeriod) {
    runSequence(GuardSettings::defaults(),
                {{0, {.signal = kStrong}, GuardStatus::keepingAwake},
                 // Clock set back by a day.
                 {-86400, {}, GuardStatus::idleGrace},
                 {-86400 + kGrace - 1, {}, GuardStatus::idleGrace},
                 {-86400 + kGrace, {.lid = LidState::closed}, GuardStatus::watching, true}},
                "clock stepped back a day");
}

// MARK: - State fields and their operations

TEST(AgentStateMachine, ModeOffClearsAllStateAndKeepsTheBatteryWarning) {
    AgentStateMachine machine;
    machine.markActive(kStart);
    const auto decision =
        machine.evaluate(AppMode::off, GuardSettings::defaults(), onBattery(25), LidState::closed,
                         kStrong, true, ThermalState::nominal, kStart + 1);
    EXPECT_EQ(decision, (GuardDecision{GuardStatus::off, false, false, "Claude Code", kOff, true}));
    EXPECT_FALSE(machine.lastActiveSignalAt().has_value());
    EXPECT_FALSE(machine.hasSeenWork());
    EXPECT_FALSE(machine.completionSleepIssued());
}

TEST(AgentStateMachine, MarkFinishedEndsWorkAtOnceWhenItsGraceCoversTheProfile) {
    const Inputs quietClosed{.lid = LidState::closed, .preventing = true};
    {
        AgentStateMachine machine;
        machine.markFinished(kStart, kGrace);
        runSequence(machine, GuardSettings::defaults(),
                    {{0, quietClosed, GuardStatus::watching, true},
                     {0, quietClosed, GuardStatus::watching, false}},
                    "finished with the profile's grace");
    }
    {
        AgentStateMachine machine;
        machine.markFinished(kStart, kGrace - 5);
        runSequence(machine, GuardSettings::defaults(),
                    {{0, quietClosed, GuardStatus::idleGrace},
                     {4, quietClosed, GuardStatus::watching, true}},
                    "finished with a shorter grace");
    }
    {
        // A sleep already issued is re-armed by markFinished.
        AgentStateMachine machine;
        runSequence(machine, GuardSettings::defaults(),
                    {{0, {.signal = kStrong}, GuardStatus::keepingAwake},
                     {kGrace, quietClosed, GuardStatus::watching, true}},
                    "first stretch");
        machine.markFinished(kStart + kGrace + 1, kGrace);
        runSequence(machine, GuardSettings::defaults(),
                    {{kGrace + 1, quietClosed, GuardStatus::watching, true}}, "re-armed");
    }
}

// MARK: - Sleep release policy

TEST(SleepReleasePolicy, PlanRelease) {
    using SleepReleasePolicy::Plan;
    constexpr double kDelay = 120.0;
    struct Case {
        const char* name;
        GuardStatus status;
        bool engaged;
        std::optional<Date> pending;
        Plan expected;
    };
    const std::vector<Case> cases{
        {"first quiet evaluation starts the hold", GuardStatus::watching, true, std::nullopt,
         Plan::hold(kStart)},
        {"119.9 s in: still held", GuardStatus::watching, true, kStart - 119.9,
         Plan::hold(kStart - 119.9)},
        {"120 s in: released", GuardStatus::watching, true, kStart - 120.0, Plan::releaseNow()},
        {"long past: released", GuardStatus::watching, true, kStart - 5000.0, Plan::releaseNow()},
        {"battery safety releases at once", GuardStatus::batterySafety, true, kStart - 1.0,
         Plan::releaseNow()},
        {"thermal safety releases at once", GuardStatus::thermalSafety, true, std::nullopt,
         Plan::releaseNow()},
        {"off releases at once", GuardStatus::off, true, std::nullopt, Plan::releaseNow()},
        {"clock stepped back: hold restarts from now", GuardStatus::watching, true, kStart + 3600.0,
         Plan::hold(kStart)},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(SleepReleasePolicy::planRelease(testCase.status, testCase.engaged,
                                                  testCase.pending, kStart, kDelay),
                  testCase.expected)
            << testCase.name;
    }
    for (const auto status : {GuardStatus::off, GuardStatus::watching, GuardStatus::keepingAwake,
                              GuardStatus::idleGrace, GuardStatus::batterySafety,
                              GuardStatus::thermalSafety, GuardStatus::pluggedInUnlimited}) {
        EXPECT_EQ(SleepReleasePolicy::planRelease(status, false, kStart - 1.0, kStart, kDelay),
                  Plan::releaseNow())
            << rawValue(status);
    }
}
