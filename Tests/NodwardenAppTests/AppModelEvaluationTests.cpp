#include "AppSupport/AppModelHarness.hpp"

#include <NodwardenApp/control/StatusReport.hpp>
#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>

#include <cmath>
#include <thread>

using namespace nodwarden;
using namespace nodwarden::app;
using namespace stayloom::testing;

namespace {

const std::string keepAwake = "setSleepPrevention(true,false,false)";
const std::string release = "setSleepPrevention(false,false,false)";

ActivitySignal named(SignalStrength strength, std::string name, std::string reason) {
    ActivitySignal result = AppModelHarness::signal(strength, std::move(name));
    result.reason = std::move(reason);
    return result;
}

GuardSettings settingsWithGrace(double seconds) {
    GuardSettings settings = GuardSettings::defaults();
    settings.setIdleGracePeriodSeconds(seconds);
    return settings;
}

} // namespace

// MARK: - Reducing the signals

TEST(AppModelEvaluation, EmptyInputsWatchWithTheNeutralReason) {
    AppModelHarness harness;
    auto model = harness.startModel(AppMode::watchAgentUI);
    harness.tickAndSettle(*model);

    EXPECT_EQ(model->published().status(), GuardStatus::watching);
    EXPECT_EQ(model->published().statusReason().toStdString(), "No agent is working");
    EXPECT_EQ(model->published().detectedAppName().toStdString(), "None");
    EXPECT_EQ(model->published().batteryDescription().toStdString(),
              FakePowerSources::mains().displayName());
    EXPECT_TRUE(model->published().isOnACPower());
    EXPECT_EQ(model->published().lidDescription().toStdString(), "Open");
    EXPECT_TRUE(model->published().agentRows().empty());
}

TEST(AppModelEvaluation, OnLinuxTheReasonsAreInPlainWords) {
    AppModelHarness harness;
    harness.setPerApp({named(SignalStrength::presence, "Codex", "running")});
    auto model = harness.startModel(AppMode::watchAgentUI);
    harness.tickAndSettle(*model);
    EXPECT_EQ(model->published().statusReason(),
              QStringLiteral("An agent is open but not working"));
    harness.setPerApp({});
    harness.tickAndSettle(*model);
    EXPECT_EQ(model->published().statusReason(), QStringLiteral("No agent is working"));
    model->setMode(AppMode::manualKeepAwake);
    AppModelHarness::settle(*model);
    EXPECT_EQ(model->published().statusReason(),
              QStringLiteral("Manual: kept awake until you change the mode"));
}

#if defined(STAYLOOM_DEBUG_SIMULATOR)
TEST(AppModelEvaluation, SimulationReplacesTheDetectedSimulatorAndExpires) {
    for (const double grace : {10.0, 120.0}) {
        SCOPED_TRACE(grace);
        AppModelHarness harness;
        harness.storeSettings(settingsWithGrace(grace));
        const std::vector<ActivitySignal> detected = {
            named(SignalStrength::weak, DebugSimulation::appName, "detected"),
            named(SignalStrength::presence, "Codex", "running")};
        harness.setPerApp(detected);
        auto model = harness.startModel(AppMode::watchAgentUI);
        harness.tickAndSettle(*model);

        model->simulateActive();
        AppModelHarness::settle(*model);
        EXPECT_EQ(model->published().status(), GuardStatus::keepingAwake);
        EXPECT_EQ(model->published().statusReason().toStdString(),
                  "Debug simulator reports active work");
        const auto& merged = model->lastPerApp();
        ASSERT_EQ(merged.size(), 2u);
        EXPECT_EQ(merged[0].appName, "Codex");
        EXPECT_EQ(merged[1].strength, SignalStrength::strong);
        EXPECT_EQ(merged[1].matchedText, "Simulate Agent Active");

        const double lifetime = std::max(grace, 30.0);
        const auto simulatedAfter = [&](double seconds) {
            harness.clock.advance(seconds);
            model->evaluateAndApply(FakePowerSources::mains(), LidState::open, detected, true);
            return model->lastPerApp().back().strength == SignalStrength::strong;
        };
        ASSERT_TRUE(simulatedAfter(lifetime - 1));
        EXPECT_FALSE(simulatedAfter(2)) << "expired: the detected simulator is back";
        EXPECT_EQ(model->lastPerApp(), detected);
        EXPECT_TRUE(harness.loggedLine("Simulation active enabled"));
    }
}

TEST(AppModelEvaluation, SimulateFinishedEndsTheGraceAtOnce) {
    AppModelHarness harness;
    auto model = harness.startModel(AppMode::watchAgentUI);
    model->simulateActive();
    AppModelHarness::settle(*model);
    ASSERT_EQ(model->published().status(), GuardStatus::keepingAwake);

    model->simulateFinished();
    AppModelHarness::settle(*model);
    EXPECT_EQ(model->published().status(), GuardStatus::watching);
    EXPECT_TRUE(harness.loggedLine("Simulation finished enabled"));
}
#endif

TEST(AppModelEvaluation, AgentRowsAreAnnouncedOnlyWhenTheyChange) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    harness.setPerApp({named(SignalStrength::strong, "Codex", "busy")});
    auto model = harness.makeModel();
    SignalCounter rowsSpy(model->published(), &PublishedStatus::agentRowsChanged);
    model->start();
    harness.tickAndSettle(*model);
    harness.tickAndSettle(*model);

    ASSERT_EQ(model->published().agentRows().size(), 1u);
    EXPECT_EQ(model->published().agentRows()[0].name, "Codex");
    EXPECT_EQ(PanelTexts::workingAgentCount(model->published().agentRows()), 1);
    EXPECT_EQ(model->published().agentSummary().toStdString(), "1 working");
    EXPECT_EQ(rowsSpy.count(), 1);

    harness.setPerApp({});
    harness.tickAndSettle(*model);
    EXPECT_TRUE(model->published().agentRows().empty());
    EXPECT_EQ(rowsSpy.count(), 2);
}

// Rows change while the status stays (an agent joins the one already working): the status is
// published again and must keep its date.
TEST(PublishedStatus, AStatusPublishedAgainIsNeitherAnnouncedNorDatedAgain) {
    Date now = 100;
    PublishedStatus published([&now] { return now; });
    SignalCounter statusSpy(published, &PublishedStatus::statusChanged);
    EXPECT_EQ(published.statusSince(), 100);

    now = 130;
    published.setStatus(GuardStatus::keepingAwake);
    EXPECT_EQ(statusSpy.count(), 1);
    EXPECT_EQ(published.statusSince(), 130);

    now = 160;
    published.setStatus(GuardStatus::keepingAwake);
    EXPECT_EQ(statusSpy.count(), 1);
    EXPECT_EQ(published.statusSince(), 130);
}

TEST(AppModelEvaluation, AccessibilityWarningNamesRunningTextOnlyAgentsWhileUntrusted) {
    std::optional<AgentProfile> textOnly;
    for (const AgentProfile& profile : AgentResolver::make(GuardSettings::defaults()).profiles) {
        if (AccessibilityNotice::isUITextOnly(profile)) {
            textOnly = profile;
            break;
        }
    }
    ASSERT_TRUE(textOnly.has_value());

    AppModelHarness harness;
    harness.accessibilityPlatform.setTrusted(false);
    harness.setPerApp({named(SignalStrength::presence, textOnly->displayName, "running")});
    auto model = harness.startModel();
    harness.tickAndSettle(*model);
    // The warning in this machine's words ("this computer", not "your Mac"), for the one agent.
    ASSERT_TRUE(model->published().accessibilityWarning().has_value());
    EXPECT_NE(model->published().accessibilityWarning()->indexOf(u"this computer"), -1);
    EXPECT_NE(model->published().accessibilityWarning()->indexOf(
                  QString::fromStdString(textOnly->displayName) + QStringLiteral(" is working")),
              -1);

    harness.accessibilityPlatform.setTrusted(true);
    harness.tickAndSettle(*model);
    EXPECT_FALSE(model->published().accessibilityWarning().has_value());
}

// MARK: - Applying the decision

TEST(AppModelEvaluation, LidClosedReleaseIsHeldOnlyForTheQuietStatus) {
    struct Case {
        const char* name;
        AppMode mode;
        ThermalState thermal;
        bool held;
    };
    const std::vector<Case> cases = {
        {"no work", AppMode::watchAgentUI, ThermalState::nominal, true},
        {"mode off", AppMode::off, ThermalState::nominal, false},
        {"thermal", AppMode::watchAgentUI, ThermalState::critical, false},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        AppModelHarness harness;
        harness.acceptTermsAndOnboarding();
        harness.storeMode(testCase.mode);
        harness.thermal = testCase.thermal;
        harness.sleep.setState(true, true, false);
        auto model = harness.makeModel();
        const Date start = harness.clock.now();

        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
        AppModelHarness::settle(*model);
        if (!testCase.held) {
            EXPECT_EQ(harness.sleep.calls(), std::vector<std::string>{release});
            EXPECT_FALSE(model->sleepCommands().lidClosedReleasePendingSince().has_value());
            continue;
        }
        EXPECT_TRUE(harness.sleep.calls().empty());
        EXPECT_EQ(model->sleepCommands().lidClosedReleasePendingSince(), start);

        harness.clock.advance(119);
        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
        AppModelHarness::settle(*model);
        EXPECT_TRUE(harness.sleep.calls().empty()) << "still within the hold";
        EXPECT_EQ(model->sleepCommands().lidClosedReleasePendingSince(), start)
            << "measured from the first";

        harness.clock.advance(1);
        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
        AppModelHarness::settle(*model);
        EXPECT_EQ(harness.sleep.calls(), std::vector<std::string>{release});
        EXPECT_FALSE(model->sleepCommands().lidClosedReleasePendingSince().has_value());
        EXPECT_FALSE(model->sleepCommands().sleepPreventionEnabled());
    }
}

TEST(AppModelEvaluation, WorkDuringTheHoldEndsIt) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    harness.sleep.setState(true, true, false);
    auto model = harness.makeModel();

    model->evaluateAndApply(FakePowerSources::mains(), LidState::closed, {}, true);
    ASSERT_TRUE(model->sleepCommands().lidClosedReleasePendingSince().has_value());
    model->evaluateAndApply(FakePowerSources::mains(), LidState::closed,
                            {named(SignalStrength::strong, "Codex", "busy")}, true);
    EXPECT_FALSE(model->sleepCommands().lidClosedReleasePendingSince().has_value());
    AppModelHarness::settle(*model);
    EXPECT_TRUE(harness.sleep.calls().empty()) << "already held in the wanted posture";
}

TEST(AppModelEvaluation, DisplayPostureChangeRestartsKeepAwakeOnce) {
    struct Case {
        const char* name;
        std::optional<bool> applied;
        bool letDisplaySleep;
        bool restarts;
    };
    const std::vector<Case> cases = {
        {"posture changed", false, true, true},
        {"child gone", std::nullopt, false, true},
        {"already applied", true, true, false},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        AppModelHarness harness;
        harness.acceptTermsAndOnboarding();
        harness.storeMode(AppMode::manualKeepAwake);
        GuardSettings settings{.letDisplaySleep = testCase.letDisplaySleep};
        harness.storeSettings(settings);
        harness.sleep.setState(true, false, testCase.applied);
        auto model = harness.makeModel();

        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
        AppModelHarness::settle(*model);
        const std::string restart = std::string("setSleepPrevention(true,false,") +
                                    (testCase.letDisplaySleep ? "true" : "false") + ")";
        EXPECT_EQ(harness.sleep.calls(), testCase.restarts ? std::vector<std::string>{restart}
                                                           : std::vector<std::string>{});

        // Once the controller reports the posture as applied, nothing more is sent.
        harness.sleep.clearCalls();
        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
        AppModelHarness::settle(*model);
        EXPECT_TRUE(harness.sleep.calls().empty());
        EXPECT_TRUE(model->sleepCommands().sleepPreventionEnabled());
        EXPECT_TRUE(model->sleepCommands().guardingSince().has_value());
    }
}

TEST(AppModelEvaluation, TheHoldsReasonFollowsTheDecisionAndEachChangeRestartsItOnce) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    auto model = harness.makeModel();
    const auto evaluate = [&](const std::string& agent) {
        harness.sleep.clearCalls();
        model->evaluateAndApply(FakePowerSources::mains(), LidState::open,
                                {named(SignalStrength::strong, agent, "busy")}, true);
        AppModelHarness::settle(*model);
        return harness.sleep.calls();
    };

    EXPECT_EQ(evaluate("Claude Code"), std::vector<std::string>{keepAwake});
    EXPECT_EQ(harness.sleep.keepAwakeReason(), "Claude Code is working");
    EXPECT_TRUE(evaluate("Claude Code").empty()) << "the same reason starts nothing new";
    EXPECT_EQ(evaluate("Codex CLI"), std::vector<std::string>{keepAwake});
    EXPECT_EQ(harness.sleep.keepAwakeReason(), "Codex CLI is working");
    EXPECT_TRUE(evaluate("Codex CLI").empty());
}

TEST(AppModelEvaluation, OneRunGivesOneLengthToTheNoticeTheLedgerThePanelAndLastRun) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    harness.storeSettings(settingsWithGrace(30));
    auto model = harness.makeModel();
    const auto evaluate = [&](const std::vector<ActivitySignal>& work) {
        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, work, true);
        AppModelHarness::settle(*model);
    };
    const std::vector<ActivitySignal> claude{named(SignalStrength::strong, "Claude Code", "busy")};
    const std::vector<ActivitySignal> idle{named(SignalStrength::presence, "Claude Code", "r")};

    // The statistics' first tick only sets their clock; the work starts on the next.
    evaluate({});
    harness.clock.advance(2.5);
    for (int step = 0; step <= 14; ++step) { // active from 0 s to 35 s
        evaluate(claude);
        harness.clock.advance(2.5);
    }
    evaluate(idle);
    ASSERT_EQ(model->published().status(), GuardStatus::idleGrace);
    // The grace counts down from the last active tick (35 s) to 65 s; now is 37.5 s.
    ASSERT_TRUE(model->graceEndsAt().has_value());
    EXPECT_EQ(PanelTexts::graceCountdown(*model->graceEndsAt() - harness.clock.now()),
              "sleeps in 0:28");
    // The report's times are whole seconds, so `status` may read a second less.
    const std::string headline =
        StatusReport::headline(StatusReport::fromModel(*model), harness.clock.now()).toStdString();
    const std::string expected = "Idle Grace — " + model->published().statusReason().toStdString() +
                                 " · 0 working · sleeps in 0:2";
    EXPECT_EQ(headline.substr(0, expected.size()), expected);
    EXPECT_TRUE(headline.ends_with("7") || headline.ends_with("8")) << headline;
    // Told at once, with the same 35 s the ledger will write.
    ASSERT_EQ(harness.notifier.shown.size(), 1u);
    EXPECT_EQ(harness.notifier.shown[0].body,
              "Claude Code worked 35 s. The computer may sleep in 28 s.");
    EXPECT_EQ(harness.notifier.shown[0].actions,
              (std::vector<NoticeAction>{{"sleep-now", "Sleep now"},
                                         {"keep-awake-30", "Keep awake 30 more minutes"}}));

    while (model->published().status() == GuardStatus::idleGrace) {
        harness.clock.advance(2.5);
        evaluate(idle);
    }
    EXPECT_EQ(harness.notifier.shown.size(), 1u) << "the grace's end adds nothing";
    EXPECT_FALSE(model->graceEndsAt().has_value());
    model->waitForBackgroundWork();
    const auto lines = linesOf(readFile(harness.ledgerPath));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" worked_s=35 "), std::string::npos) << lines[0];
    const QJsonObject lastRun =
        StatusReport::fromModel(*model).value(QStringLiteral("lastRun")).toObject();
    EXPECT_EQ(lastRun.value(QStringLiteral("durationSeconds")).toInteger(), 35);
    EXPECT_EQ(PanelTexts::panelLastRunAgent(*model), QStringLiteral("Claude Code ran 35 s"));

    // "Keep awake 30 more minutes" from the notice, pressed on the notifier's own thread.
    std::thread([&] { harness.notifier.press("keep-awake-30"); }).join();
    ASSERT_TRUE(AppModelHarness::processEventsUntil(
        [&] { return model->timedKeepAwake().until().has_value(); }));
    EXPECT_EQ(*model->timedKeepAwake().until(), harness.clock.now() + 30 * 60);
    EXPECT_EQ(model->mode(), AppMode::manualKeepAwake);
    model->setMode(AppMode::watchAgentUI);

    // Asked to wait for the grace, the notice comes at its end and still counts the work only.
    GuardSettings afterGrace = model->settings();
    afterGrace.notifications.workDoneAfterGrace = true;
    model->commitSettings(afterGrace);
    evaluate({});
    for (int step = 0; step <= 4; ++step) { // active for 10 s
        harness.clock.advance(2.5);
        evaluate(claude);
    }
    harness.clock.advance(2.5);
    evaluate(idle);
    ASSERT_EQ(model->published().status(), GuardStatus::idleGrace);
    EXPECT_EQ(harness.notifier.shown.size(), 1u) << "still in the grace";
    while (model->published().status() == GuardStatus::idleGrace) {
        harness.clock.advance(2.5);
        evaluate(idle);
    }
    ASSERT_EQ(harness.notifier.shown.size(), 2u);
    EXPECT_EQ(harness.notifier.shown[1].body,
              "Claude Code worked 10 s. The computer may sleep again.");
    EXPECT_EQ(StatusReport::fromModel(*model)
                  .value(QStringLiteral("lastRun"))
                  .toObject()
                  .value(QStringLiteral("durationSeconds"))
                  .toInteger(),
              10);
}

TEST(AppModelEvaluation, TheEndOfTheWorkAndASafetyReleaseAreAnnouncedAModeSwitchIsNot) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    GuardSettings settings = settingsWithGrace(60);
    settings.notifications.workDoneAfterGrace = true;
    harness.storeSettings(settings);
    auto model = harness.makeModel();
    const auto evaluate = [&](const PowerSnapshot& power, const std::vector<ActivitySignal>& work) {
        model->evaluateAndApply(power, LidState::open, work, true);
        AppModelHarness::settle(*model);
    };
    const std::vector<ActivitySignal> claude{named(SignalStrength::strong, "Claude Code", "busy")};

    evaluate(FakePowerSources::mains(), claude);
    harness.clock.advance(11 * 60);
    evaluate(FakePowerSources::mains(), claude);
    evaluate(FakePowerSources::mains(), {});
    EXPECT_TRUE(harness.notifier.shown.empty()) << "still in the grace";
    harness.clock.advance(61);
    evaluate(FakePowerSources::mains(), {});
    // The clock's jump left no run the statistics trust, so no length is given.
    ASSERT_EQ(harness.notifier.shown.size(), 1u);
    EXPECT_EQ(harness.notifier.shown[0].summary, "Agents finished");
    EXPECT_EQ(harness.notifier.shown[0].body,
              "Claude Code finished. The computer may sleep again.");

    // The user's own switch out of a hold is theirs to know.
    model->setMode(AppMode::manualKeepAwake);
    evaluate(FakePowerSources::battery(80), {});
    model->setMode(AppMode::watchAgentUI);
    evaluate(FakePowerSources::battery(80), {});
    EXPECT_EQ(harness.notifier.shown.size(), 1u);

    // Nor is switching off the agent that holds it.
    evaluate(FakePowerSources::mains(), claude);
    GuardSettings withoutClaude = model->settings();
    withoutClaude.disabledAgentIDs.push_back("claude-code");
    model->commitSettings(withoutClaude);
    evaluate(FakePowerSources::mains(), {});
    harness.clock.advance(61);
    evaluate(FakePowerSources::mains(), {});
    EXPECT_EQ(harness.notifier.shown.size(), 1u);

    // A safety rule letting go of the machine is news.
    model->setMode(AppMode::manualKeepAwake);
    evaluate(FakePowerSources::battery(80), {});
    evaluate(FakePowerSources::battery(5), {});
    ASSERT_EQ(harness.notifier.shown.size(), 2u);
    EXPECT_EQ(harness.notifier.shown.back(),
              (Notice{"Battery low — keep-awake stopped",
                      "The battery is at 5%, below the cutoff. The computer may sleep again."}));
}

TEST(AppModelEvaluation, AnAgentWaitingForItsUserIsShownAnnouncedOnceAndNotKeptAwake) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    harness.storeSettings(settingsWithGrace(60));
    auto model = harness.makeModel();
    const auto evaluate = [&](const std::vector<ActivitySignal>& work) {
        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, work, true);
        AppModelHarness::settle(*model);
    };
    ActivitySignal working =
        named(SignalStrength::strong, "Claude Code", "Claude Code reports it is working");
    working.decidedBy = DecidingWitness::record;
    ActivitySignal waiting =
        named(SignalStrength::presence, "Claude Code", "Claude Code is waiting for your answer");
    waiting.decidedBy = DecidingWitness::hook;
    waiting.waitingForUser = true;
    const Notice notice{"Claude Code is waiting for your answer",
                        "It has stopped to ask you something. The computer may sleep while it "
                        "waits.",
                        {},
                        "waiting:Claude Code"};

    evaluate({working});
    evaluate({waiting});
    EXPECT_EQ(harness.notifier.shown, std::vector<Notice>{notice})
        << "at once, not after the grace";
    evaluate({waiting});
    EXPECT_EQ(harness.notifier.shown.size(), 1u) << "one notice per wait";
    ASSERT_EQ(model->published().agentRows().size(), 1u);
    EXPECT_EQ(model->published().agentRows()[0].state, "waiting for you");
    EXPECT_FALSE(model->published().agentRows()[0].isWorking);
    EXPECT_EQ(model->published().agentSummary(), QStringLiteral("0 working · 1 waiting for you"));
    EXPECT_EQ(model->published().statusIconName(), QStringLiteral("questionmark.bubble"));
    const QJsonObject agent = app::StatusReport::fromModel(*model)
                                  .value(QStringLiteral("agents"))
                                  .toArray()[0]
                                  .toObject();
    EXPECT_EQ(agent.value(QStringLiteral("state")).toString(), QStringLiteral("waiting"));
    EXPECT_EQ(agent.value(QStringLiteral("decidedBy")).toString(), QStringLiteral("hook"));
    EXPECT_FALSE(agent.value(QStringLiteral("working")).toBool());

    // A second agent that starts waiting gets a notice of its own beside the first.
    ActivitySignal otherWaiting =
        named(SignalStrength::presence, "Codex CLI", "Codex CLI is waiting for your answer");
    otherWaiting.waitingForUser = true;
    evaluate({waiting, otherWaiting});
    ASSERT_EQ(harness.notifier.shown.size(), 2u);
    EXPECT_EQ(harness.notifier.shown[1].slot, "waiting:Codex CLI");

    // A wait is released as a turn's end is: after the grace, and not as work that finished.
    harness.clock.advance(61);
    evaluate({waiting, otherWaiting});
    EXPECT_FALSE(model->sleepCommands().sleepPreventionEnabled());
    EXPECT_EQ(harness.notifier.shown.size(), 2u) << "no agent finished: they wait";
    // One answer ends that wait only: its notice is taken back, the other stays.
    evaluate({working, otherWaiting});
    EXPECT_EQ(harness.notifier.withdrawn, std::vector<std::string>{notice.slot});
}

TEST(AppModelEvaluation, EngagedSwitchIsReleasedEvenWhenTheChildIsGone) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::off);
    harness.sleep.setState(false, true, std::nullopt);
    auto model = harness.makeModel();

    model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
    AppModelHarness::settle(*model);
    EXPECT_EQ(harness.sleep.calls(), std::vector<std::string>{release});
    EXPECT_FALSE(harness.sleep.isLidClosedProtectionEngaged());
}

// MARK: - Statistics

TEST(AppModelMetrics, VanishedAgentNeedsTwoFreshScansAndWritesOneLedgerLine) {
    AppModelHarness harness;
    harness.setPerApp({named(SignalStrength::strong, "Claude Code", "busy")});
    auto model = harness.startModel(AppMode::watchAgentUI);
    harness.tickAndSettle(*model);
    harness.clock.advance(2.5);
    harness.tickAndSettle(*model);
    ASSERT_EQ(model->metrics().sessionAgentID(), "Claude Code");

    harness.setPerApp({});
    harness.clock.advance(2.5);
    harness.tickAndSettle(*model);
    EXPECT_EQ(model->statistics().sessionAgentAbsentTicks(), 1);
    EXPECT_TRUE(model->metrics().sessionStartedAt().has_value()) << "one scan is not enough";

    // A re-evaluation of the cached inputs does not count as a scan.
    harness.clock.advance(1);
    model->tick();
    EXPECT_EQ(model->statistics().sessionAgentAbsentTicks(), 1);
    EXPECT_TRUE(model->metrics().sessionStartedAt().has_value());

    harness.clock.advance(1);
    AppModelHarness::settle(*model);
    EXPECT_EQ(model->statistics().sessionAgentAbsentTicks(), 2);
    EXPECT_FALSE(model->metrics().sessionStartedAt().has_value());
    EXPECT_EQ(model->metrics().lastCloseReason(), SessionCloseReason::vanished);

    model->applicationWillTerminate();
    const auto lines = linesOf(readFile(harness.ledgerPath));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("agent=\"Claude Code\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("close=vanished process_at_close=gone session_file_age_s=-"),
              std::string::npos)
        << lines[0];
}

TEST(AppModelMetrics, IdleCloseAppendsExactlyOneLedgerLine) {
    AppModelHarness harness;
    harness.storeSettings(settingsWithGrace(10));
    harness.setPerApp({named(SignalStrength::strong, "Codex", "busy")});
    auto model = harness.startModel(AppMode::watchAgentUI);
    for (int step = 0; step < 3; ++step) {
        harness.clock.advance(2.5);
        harness.tickAndSettle(*model);
    }
    ASSERT_TRUE(model->metrics().sessionStartedAt().has_value());

    // The agent keeps running but stops working: the grace runs out and the session closes.
    harness.setPerApp({named(SignalStrength::presence, "Codex", "running")});
    for (int step = 0; step < 8; ++step) {
        harness.clock.advance(2.5);
        harness.tickAndSettle(*model);
    }
    EXPECT_EQ(model->metrics().lastCloseReason(), SessionCloseReason::idle);
    model->waitForBackgroundWork();
    const auto lines = linesOf(readFile(harness.ledgerPath));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("agent=\"Codex\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("close=idle"), std::string::npos) << lines[0];
    EXPECT_GT(model->metrics().lastRun()->keptAwakeSeconds(), 0);
}

TEST(AppModelMetrics, TheStatusReportGivesScriptsTheLastRunAndItsTimesInIso8601) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    harness.storeSettings(settingsWithGrace(10));
    harness.setPerApp({named(SignalStrength::strong, "Codex", "busy")});
    auto model = harness.makeModel();
    const Date created = harness.clock.now();
    model->start();
    for (int step = 0; step < 3; ++step) {
        harness.clock.advance(2.5);
        harness.tickAndSettle(*model);
    }
    harness.setPerApp({named(SignalStrength::presence, "Codex", "running")});
    for (int step = 0; step < 8; ++step) {
        harness.clock.advance(2.5);
        harness.tickAndSettle(*model);
    }
    const auto& run = model->metrics().lastRun();
    ASSERT_TRUE(run.has_value());

    const QJsonObject report = StatusReport::fromModel(*model);
    const auto secondsOf = [](const QJsonValue& value) {
        const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODate);
        EXPECT_TRUE(time.isValid() && time.timeSpec() == Qt::UTC) << value.toString().toStdString();
        return time.toSecsSinceEpoch();
    };
    const QJsonObject lastRun = report.value(QStringLiteral("lastRun")).toObject();
    EXPECT_EQ(lastRun.value(QStringLiteral("agentName")).toString(), QStringLiteral("Codex"));
    EXPECT_EQ(lastRun.value(QStringLiteral("durationSeconds")).toInteger(),
              std::llround(run->workedSeconds()));
    EXPECT_EQ(secondsOf(lastRun.value(QStringLiteral("endedAt"))),
              qint64(std::floor(unixTimeFromDate(run->endedAt()))));
    // The prose stays for those who read it.
    EXPECT_TRUE(lastRun.value(QStringLiteral("agent")).toString().startsWith(u"Codex ran "));
    // The status changed when the work ended, after the model was made and not after now.
    const qint64 since = secondsOf(report.value(QStringLiteral("statusSince")));
    EXPECT_GT(since, qint64(unixTimeFromDate(created)));
    EXPECT_LE(since, qint64(unixTimeFromDate(harness.clock.now())));
    EXPECT_TRUE(report.value(QStringLiteral("running")).toBool());
}

TEST(AppModelMetrics, LedgerFailureIsLoggedAndTheLineDropped) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    // A file where the ledger's folder should be makes every append fail.
    harness.home.write("blocked", "not a folder");
    auto environment = harness.environment();
    environment.runLedgerPath = harness.home.path() / "blocked" / "Stayloom-runs.log";
    harness.setPerApp({named(SignalStrength::strong, "Codex", "busy")});
    AppModel model(std::move(environment));
    model.start();
    for (int step = 0; step < 3; ++step) {
        harness.clock.advance(2.5);
        harness.tickAndSettle(model);
    }
    harness.setPerApp({});
    harness.clock.advance(60); // a wake gap closes the session as interrupted
    harness.tickAndSettle(model);
    model.applicationWillTerminate();

    const auto lines = harness.logged();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.starts_with("Run ledger append failed: ");
                            }),
              1);
}

TEST(AppModelMetrics, SavesOnlyCountsAtMostOnceAMinuteAndHourlyWhileKeepingAwake) {
    // A tick that counts nothing writes nothing; one that counts is saved within a minute, or
    // within the hour while the machine is kept awake (every tick counts then), and the rest at
    // quit.
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    auto model = harness.makeModel();
    const Date first = harness.clock.now();
    const auto stored = [&] {
        return harness.reopenDefaults()
            ->value(QString::fromUtf8(StoredKeys::metrics.data()))
            .toByteArray();
    };
    const auto tickFor = [&](double seconds) {
        const Date start = harness.clock.now();
        std::vector<Date> saves;
        for (double at = 3; at <= seconds; at += 3) {
            harness.clock.set(start + at);
            const auto before = model->statistics().lastSaveAt();
            model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
            if (model->statistics().lastSaveAt() != before) {
                saves.push_back(std::round(*model->statistics().lastSaveAt() - first));
            }
        }
        return saves;
    };

    model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
    EXPECT_TRUE(tickFor(600).empty())
        << "ten idle minutes: only the last tick's time moved and the day's empty entry opened";
    EXPECT_TRUE(stored().isEmpty());

    model->setMode(AppMode::manualKeepAwake);
    EXPECT_EQ(tickFor(3 * 3600), (std::vector<Date>{603, 603 + 3600, 603 + 7200}))
        << "kept awake: the first count at once, then hourly";
    const QByteArray hourly = stored();
    ASSERT_FALSE(hourly.isEmpty());

    model->setMode(AppMode::watchAgentUI);
    const auto afterAwake = tickFor(600);
    ASSERT_EQ(afterAwake.size(), 1U) << "the last kept-awake minutes, saved once within a minute";
    EXPECT_NE(stored(), hourly);
    model->applicationWillTerminate();
    const auto reloaded = MetricsStore::load(*harness.reopenDefaults(), harness.clock.now());
    EXPECT_NEAR(reloaded.totalManualSeconds(), 3 * 3600, 10);
}

TEST(AppModelMetrics, ClockSteppingBackDoesNotHoldSavesOff) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::manualKeepAwake);
    auto model = harness.makeModel();
    const Date first = harness.clock.now();
    for (const Date at : {first, first + 3}) {
        harness.clock.set(at);
        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
    }
    ASSERT_EQ(model->statistics().lastSaveAt(), first + 3);
    for (const Date at : {first - 3600, first - 3597}) {
        harness.clock.set(at);
        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
    }
    ASSERT_TRUE(model->statistics().lastSaveAt());
    EXPECT_LT(*model->statistics().lastSaveAt(), first)
        << "saved again after the clock stepped back";
}

TEST(AppModelMetrics, ResetKeepsTheInstallDateAndTheLedger) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::manualKeepAwake);
    harness.home.write("logs/Stayloom-runs.log", "an earlier line\n");
    auto model = harness.makeModel();
    const Date installed = model->metrics().installDate();
    for (int step = 0; step < 3; ++step) {
        harness.clock.advance(3);
        model->evaluateAndApply(FakePowerSources::mains(), LidState::open, {}, true);
    }
    ASSERT_GT(model->metrics().totalManualSeconds(), 0);
    harness.windows.presentSettingsWindow(SettingsTab::stats);
    SignalCounter metricsSpy(*model, &AppModel::metricsChanged);

    model->resetMetrics();
    EXPECT_EQ(model->metrics(), UsageMetrics(installed));
    EXPECT_EQ(metricsSpy.count(), 1) << "the open statistics pane redraws";
    EXPECT_EQ(MetricsStore::load(*harness.reopenDefaults(), harness.clock.now()),
              UsageMetrics(installed));
    EXPECT_EQ(linesOf(readFile(harness.ledgerPath)), std::vector<std::string>{"an earlier line"});
    EXPECT_TRUE(harness.loggedLine("Stats reset from Settings"));
}

TEST(AppModelMetrics, ManualModeCountsManualSecondsEvenWithAnAgentSignal) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::manualKeepAwake);
    auto model = harness.makeModel();
    for (int step = 0; step < 3; ++step) {
        harness.clock.advance(3);
        model->evaluateAndApply(FakePowerSources::mains(), LidState::closed,
                                {named(SignalStrength::strong, "Codex", "busy")}, true);
    }
    EXPECT_EQ(model->metrics().totalManualSeconds(), 6);
    EXPECT_EQ(model->metrics().totalProtectedSeconds(), 0);
}
