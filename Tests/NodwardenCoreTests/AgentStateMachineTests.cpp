#include <NodwardenCore/model/AgentStateMachine.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace nodwarden;

namespace {

constexpr Date startDate = 800'000'000.0;
constexpr double idleGrace = 90.0; // the default idle grace of both profiles

const std::string offReason = "Stayloom is off";
const std::string batteryUnknownReason =
    "Battery level unavailable \u2014 releasing keep-awake to protect the battery";
const std::string cutoffReason = "Battery is at or below cutoff";
const std::string thermalReason =
    "Thermal pressure is critical \u2014 releasing keep-awake so the Mac can cool down";
const std::string manualReason = "Manual keep-awake mode is enabled";
const std::string unlimitedReason =
    "AC power is connected and plugged-in unlimited mode is enabled";
const std::string graceReason = "No current active signal; waiting through idle grace";
const std::string presentReason = "Target app is present but no active-work signal was found";
const std::string noSignalReason = "No active agent signal";
const std::string workingReason = "Claude Code is using 42% CPU";

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
        signal.reason = workingReason;
    }
    return signal;
}

const ActivitySignal strongSignal = withStrength(SignalStrength::strong);
const ActivitySignal weakSignal = withStrength(SignalStrength::weak);
const ActivitySignal presenceSignal = withStrength(SignalStrength::presence);
const ActivitySignal noneSignal = ActivitySignal::none();

/// The inputs of one evaluation, with the common ones defaulted.
struct Inputs {
    AppMode mode = AppMode::watchAgentUI;
    PowerSnapshot power = mains();
    LidState lid = LidState::open;
    ActivitySignal signal = noneSignal;
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
                             in.thermal, startDate + step.offset);
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
        in.signal = strongSignal;
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
         GuardStatus::off, false, offReason},
        {"unknown battery beats thermal and manual",
         closedAndHot({.mode = AppMode::manualKeepAwake, .power = onBattery(std::nullopt)}),
         GuardStatus::watching, false, batteryUnknownReason},
        {"cutoff beats thermal and manual and asks for sleep when holding",
         closedAndHot({.mode = AppMode::manualKeepAwake, .power = onBattery(20)}),
         GuardStatus::batterySafety, true, cutoffReason},
        {"cutoff without holding does not ask for sleep",
         {.mode = AppMode::pluggedInUnlimited, .power = onBattery(3), .preventing = false},
         GuardStatus::batterySafety,
         false,
         cutoffReason},
        {"thermal beats manual, closed lid and holding asks for sleep",
         closedAndHot({.mode = AppMode::manualKeepAwake}), GuardStatus::thermalSafety, true,
         thermalReason},
        {"thermal with open lid releases without sleep",
         {.signal = strongSignal, .preventing = true, .thermal = ThermalState::critical},
         GuardStatus::thermalSafety,
         false,
         thermalReason},
        {"thermal with closed lid but not holding releases without sleep",
         {.lid = LidState::closed, .preventing = false, .thermal = ThermalState::critical},
         GuardStatus::thermalSafety,
         false,
         thermalReason},
        {"serious thermal pressure changes nothing",
         {.signal = strongSignal, .thermal = ThermalState::serious},
         GuardStatus::keepingAwake,
         false,
         workingReason},
        {"manual beats an active signal",
         {.mode = AppMode::manualKeepAwake, .signal = strongSignal},
         GuardStatus::keepingAwake,
         false,
         manualReason},
        {"manual on battery above the cutoff keeps awake",
         {.mode = AppMode::manualKeepAwake, .power = onBattery(21)},
         GuardStatus::keepingAwake,
         false,
         manualReason},
        {"unlimited on mains beats an active signal",
         {.mode = AppMode::pluggedInUnlimited, .signal = strongSignal},
         GuardStatus::pluggedInUnlimited,
         false,
         unlimitedReason},
        {"unlimited on battery behaves like watching",
         {.mode = AppMode::pluggedInUnlimited, .power = onBattery(80), .signal = strongSignal},
         GuardStatus::keepingAwake,
         false,
         workingReason},
        {"weak signal is active work",
         {.signal = weakSignal},
         GuardStatus::keepingAwake,
         false,
         workingReason},
        {"presence alone only watches",
         {.signal = presenceSignal},
         GuardStatus::watching,
         false,
         presentReason},
        {"nothing at all", {}, GuardStatus::watching, false, noSignalReason},
        {"fresh machine never sleeps, even with the lid closed",
         {.mode = AppMode::sleepAfterCurrentWork, .lid = LidState::closed, .preventing = true},
         GuardStatus::watching,
         false,
         noSignalReason},
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
            machine.evaluate(testCase.mode, settings, testCase.power, LidState::open, noneSignal,
                             false, ThermalState::nominal, startDate);
        EXPECT_EQ(decision.isBatteryWarning, testCase.warning)
            << testCase.power.displayName() << " in " << rawValue(testCase.mode);
    }
}

// MARK: - Grace and completion sleep over time

TEST(AgentStateMachine, SequencesOverTime) {
    const Inputs strong{.signal = strongSignal};
    const Inputs quiet{};
    const Inputs quietClosed{.lid = LidState::closed, .preventing = true};
    const Inputs presentClosed{
        .lid = LidState::closed, .signal = presenceSignal, .preventing = true};

    struct Sequence {
        const char* name;
        GuardSettings settings;
        std::vector<Step> steps;
    };
    const std::vector<Sequence> sequences{
        {"grace runs to T + grace exclusive, open lid with defaults never sleeps",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake, false, workingReason},
          {3, quiet, GuardStatus::idleGrace, false, graceReason},
          {idleGrace - 0.001, quiet, GuardStatus::idleGrace},
          {idleGrace, quiet, GuardStatus::watching, false, noSignalReason},
          {idleGrace + 600, quiet, GuardStatus::watching}}},
        {"closed lid sleeps once after the grace, whatever the profile says",
         withProfiles(false, true),
         {{0, strong, GuardStatus::keepingAwake},
          {idleGrace - 1, quietClosed, GuardStatus::idleGrace},
          {idleGrace, presentClosed, GuardStatus::watching, true, presentReason},
          {idleGrace + 3, quietClosed, GuardStatus::watching, false},
          {idleGrace + 6, presentClosed, GuardStatus::watching, false}}},
        {"presence does not extend the grace",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {idleGrace - 1, {.signal = presenceSignal}, GuardStatus::idleGrace},
          {idleGrace, {.signal = presenceSignal}, GuardStatus::watching, false, presentReason}}},
        {"new work re-arms the one-shot sleep",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {idleGrace, quietClosed, GuardStatus::watching, true},
          {idleGrace + 10, strong, GuardStatus::keepingAwake},
          {2 * idleGrace + 10, quietClosed, GuardStatus::watching, true},
          {2 * idleGrace + 13, quietClosed, GuardStatus::watching, false}}},
        {"finished without sleep, then the lid closes: one sleep",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {idleGrace, quiet, GuardStatus::watching, false},
          {idleGrace + 300, quietClosed, GuardStatus::watching, true},
          {idleGrace + 303, quietClosed, GuardStatus::watching, false}}},
        {"sleep after current work with defaults and an open lid does not sleep",
         GuardSettings::defaults(),
         {{0,
           {.mode = AppMode::sleepAfterCurrentWork, .signal = strongSignal},
           GuardStatus::keepingAwake},
          {idleGrace, {.mode = AppMode::sleepAfterCurrentWork}, GuardStatus::watching, false}}},
        {"sleep after current work, lid restriction off: sleeps once with the lid open",
         withProfiles(false, false),
         {{0,
           {.mode = AppMode::sleepAfterCurrentWork, .signal = strongSignal},
           GuardStatus::keepingAwake},
          {idleGrace, {.mode = AppMode::sleepAfterCurrentWork}, GuardStatus::watching, true},
          {idleGrace + 3, {.mode = AppMode::sleepAfterCurrentWork}, GuardStatus::watching, false}}},
        {"watch mode sleeps with the lid open only when sleep after completion is on",
         withProfiles(true, false),
         {{0, strong, GuardStatus::keepingAwake}, {idleGrace, quiet, GuardStatus::watching, true}}},
        {"watch mode, lid restriction off but sleep after completion off: no sleep",
         withProfiles(false, false),
         {{0, strong, GuardStatus::keepingAwake},
          {idleGrace, quiet, GuardStatus::watching, false}}},
        {"battery cutoff sleep is not repeated by the finished rule",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {3, {.power = onBattery(20), .preventing = true}, GuardStatus::batterySafety, true},
          {idleGrace + 3, {.lid = LidState::closed}, GuardStatus::watching, false}}},
        {"thermal sleep with the lid closed is not repeated by the finished rule",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {3,
           {.lid = LidState::closed, .preventing = true, .thermal = ThermalState::critical},
           GuardStatus::thermalSafety,
           true},
          {idleGrace + 3, quietClosed, GuardStatus::watching, false}}},
        {"manual keep-awake re-arms the completion sleep",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {idleGrace, quietClosed, GuardStatus::watching, true},
          {idleGrace + 3, {.mode = AppMode::manualKeepAwake}, GuardStatus::keepingAwake},
          {idleGrace + 6, quietClosed, GuardStatus::watching, true}}},
        {"mode off forgets the work: no sleep afterwards",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {3, {.mode = AppMode::off}, GuardStatus::off},
          {idleGrace + 3, quietClosed, GuardStatus::watching, false}}},
        {"unknown battery leaves the grace running",
         GuardSettings::defaults(),
         {{0, strong, GuardStatus::keepingAwake},
          {3,
           {.power = onBattery(std::nullopt)},
           GuardStatus::watching,
           false,
           batteryUnknownReason},
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
                {{0, {.signal = strongSignal}, GuardStatus::keepingAwake},
                 {60, {}, GuardStatus::idleGrace},
                 {61, {.power = onBattery(80)}, GuardStatus::watching},
                 {62, {}, GuardStatus::idleGrace},
                 {300, {}, GuardStatus::watching}},
                "unplugging shortens the grace");
}

TEST(AgentStateMachine, ClockStepBackwardsHoldsGraceForAtMostOneGracePeriod) {
    runSequence(GuardSettings::defaults(),
                {{0, {.signal = strongSignal}, GuardStatus::keepingAwake},
                 // Clock set back by a day.
                 {-86400, {}, GuardStatus::idleGrace},
                 {-86400 + idleGrace - 1, {}, GuardStatus::idleGrace},
                 {-86400 + idleGrace, {.lid = LidState::closed}, GuardStatus::watching, true}},
                "clock stepped back a day");
}

// MARK: - State fields and their operations

TEST(AgentStateMachine, ModeOffClearsAllStateAndKeepsTheBatteryWarning) {
    AgentStateMachine machine;
    machine.markActive(startDate);
    const auto decision =
        machine.evaluate(AppMode::off, GuardSettings::defaults(), onBattery(25), LidState::closed,
                         strongSignal, true, ThermalState::nominal, startDate + 1);
    EXPECT_EQ(decision, (GuardDecision{GuardStatus::off,
                                       false,
                                       false,
                                       "Claude Code",
                                       offReason,
                                       true,
                                       ReasonCode::modeOff,
                                       {}}));
    EXPECT_FALSE(machine.lastActiveSignalAt().has_value());
    EXPECT_FALSE(machine.hasSeenWork());
    EXPECT_FALSE(machine.completionSleepIssued());
}

TEST(AgentStateMachine, MarkFinishedEndsWorkAtOnceWhenItsGraceCoversTheProfile) {
    const Inputs quietClosed{.lid = LidState::closed, .preventing = true};
    {
        AgentStateMachine machine;
        machine.markFinished(startDate, idleGrace);
        runSequence(machine, GuardSettings::defaults(),
                    {{0, quietClosed, GuardStatus::watching, true},
                     {0, quietClosed, GuardStatus::watching, false}},
                    "finished with the profile's grace");
    }
    {
        AgentStateMachine machine;
        machine.markFinished(startDate, idleGrace - 5);
        runSequence(machine, GuardSettings::defaults(),
                    {{0, quietClosed, GuardStatus::idleGrace},
                     {4, quietClosed, GuardStatus::watching, true}},
                    "finished with a shorter grace");
    }
    {
        // A sleep already issued is re-armed by markFinished.
        AgentStateMachine machine;
        runSequence(machine, GuardSettings::defaults(),
                    {{0, {.signal = strongSignal}, GuardStatus::keepingAwake},
                     {idleGrace, quietClosed, GuardStatus::watching, true}},
                    "first stretch");
        machine.markFinished(startDate + idleGrace + 1, idleGrace);
        runSequence(machine, GuardSettings::defaults(),
                    {{idleGrace + 1, quietClosed, GuardStatus::watching, true}}, "re-armed");
    }
}

// MARK: - Sleep release policy

TEST(SleepReleasePolicy, PlanRelease) {
    using SleepReleasePolicy::Plan;
    constexpr double delay = 120.0;
    struct Case {
        const char* name;
        GuardStatus status;
        bool engaged;
        std::optional<Date> pending;
        Plan expected;
    };
    const std::vector<Case> cases{
        {"first quiet evaluation starts the hold", GuardStatus::watching, true, std::nullopt,
         Plan::hold(startDate)},
        {"119.9 s in: still held", GuardStatus::watching, true, startDate - 119.9,
         Plan::hold(startDate - 119.9)},
        {"120 s in: released", GuardStatus::watching, true, startDate - 120.0, Plan::releaseNow()},
        {"long past: released", GuardStatus::watching, true, startDate - 5000.0,
         Plan::releaseNow()},
        {"battery safety releases at once", GuardStatus::batterySafety, true, startDate - 1.0,
         Plan::releaseNow()},
        {"thermal safety releases at once", GuardStatus::thermalSafety, true, std::nullopt,
         Plan::releaseNow()},
        {"off releases at once", GuardStatus::off, true, std::nullopt, Plan::releaseNow()},
        {"clock stepped back: hold restarts from now", GuardStatus::watching, true,
         startDate + 3600.0, Plan::hold(startDate)},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(SleepReleasePolicy::planRelease(testCase.status, testCase.engaged,
                                                  testCase.pending, startDate, delay),
                  testCase.expected)
            << testCase.name;
    }
    for (const auto status : {GuardStatus::off, GuardStatus::watching, GuardStatus::keepingAwake,
                              GuardStatus::idleGrace, GuardStatus::batterySafety,
                              GuardStatus::thermalSafety, GuardStatus::pluggedInUnlimited}) {
        EXPECT_EQ(SleepReleasePolicy::planRelease(status, false, startDate - 1.0, startDate, delay),
                  Plan::releaseNow())
            << rawValue(status);
    }
}
