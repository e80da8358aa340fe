#include "AppSupport/AppModelHarness.hpp"

#include <NodwardenApp/model/CommandRunRows.hpp>
#include <NodwardenApp/model/KeepAwakeReason.hpp>
#include <NodwardenApp/model/LaunchAtLogin.hpp>
#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/model/TimedKeepAwake.hpp>
#include <NodwardenApp/platform/XdgLoginItemService.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::AppModelHarness;
using stayloom::testing::SignalCounter;

namespace {

const std::string watchdogPrefix = "WATCHDOG: sleep command in flight for ";

bool containsCall(const std::vector<std::string>& calls, const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

long countCalls(const std::vector<std::string>& calls, const std::string& call) {
    return std::count(calls.begin(), calls.end(), call);
}

} // namespace

// MARK: - Start-up and the terms gate

TEST(AppModelLifecycle, StartRunsOnceAndQueuesTheLaunchRepair) {
    AppModelHarness harness;
    auto model = harness.startModel();
    model->start();
    AppModelHarness::settle(*model);

    const auto lines = harness.logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Stayloom started"), 1);
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("Updater") != std::string::npos;
    })) << "a build without an updater says nothing about one";
    EXPECT_EQ(countCalls(harness.sleep.calls(), "reconcileOrphanedKeepAwakeChildren"), 1);
    EXPECT_EQ(countCalls(harness.sleep.calls(), "reconcileStuckSleepSwitch"), 1);
    EXPECT_TRUE(harness.windows.calls().empty()) << "no first-run window once both are done";
}

TEST(AppModelLifecycle, FirstTickArrivesFromTheTimerAfterStartAndThePassesThenKeepTheBeat) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    auto environment = harness.environment();
    environment.firstTickDelay = 0.01;
    constexpr double interval = 0.2;
    environment.tickInterval = interval;
    AppModel model(std::move(environment));

    const auto started = std::chrono::steady_clock::now();
    model.start();
    EXPECT_EQ(harness.detectionCount(), 0) << "nothing is detected before the first tick";
    EXPECT_TRUE(AppModelHarness::processEventsUntil(
        [&] { return harness.detectionCount() >= 1 && !model.detectionInFlight(); }));

    // Between passes a user's action runs one at once; the repeats go on from it, one chain of
    // them.
    model.setMode(AppMode::manualKeepAwake);
    const int afterAction = harness.detectionCount();
    EXPECT_TRUE(AppModelHarness::processEventsUntil(
        [&] { return harness.detectionCount() >= afterAction + 4; }));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Repeats never start early, so one chain makes at most one pass an interval, beside the
    // first and the action's own.
    EXPECT_LE(harness.detectionCount(), int(elapsed / interval) + 3);
    EXPECT_EQ(model.mode(), AppMode::manualKeepAwake);
}

TEST(AppModelLifecycle, PendingTermsHoldDetectionAndShowTheAcceptanceReason) {
    AppModelHarness harness;
    harness.sleep.setState(false, false, std::nullopt);
    auto model = harness.makeModel();

    model->start();
    EXPECT_TRUE(model->firstRun().needsLegalAcceptance());
    EXPECT_EQ(harness.windows.calls(), std::vector<std::string>{"presentLegalWindow"})
        << "onboarding waits for the terms";

    model->setMode(AppMode::manualKeepAwake);
    AppModelHarness::settle(*model);
    EXPECT_EQ(harness.detectionCount(), 0);
    EXPECT_EQ(model->published().statusReason().toStdString(), AppModel::legalPendingReason);
    EXPECT_FALSE(containsCall(harness.sleep.calls(), "setSleepPrevention(true,false,false)"));

    model->acceptLegal();
    AppModelHarness::settle(*model);
    EXPECT_FALSE(model->firstRun().needsLegalAcceptance());
    EXPECT_EQ(harness.windows.calls(),
              (std::vector<std::string>{"presentLegalWindow", "closeLegalWindow",
                                        "presentOnboardingWindow"}));
    // Linux's own terms version, not the macOS build's.
    const std::string version = harness.wording->legalVersion.toStdString();
    EXPECT_NE(version, Legal::currentVersion);
    EXPECT_TRUE(harness.loggedLine("Accepted legal v" + version));
    EXPECT_GE(harness.detectionCount(), 1) << "acceptance starts detection at once";
    EXPECT_TRUE(containsCall(harness.sleep.calls(), "setSleepPrevention(true,false,false)"));
    EXPECT_EQ(harness.reopenDefaults()
                  ->value(QString::fromUtf8(StoredKeys::acceptedLegalVersion.data()))
                  .toString()
                  .toStdString(),
              version);
    EXPECT_FALSE(harness.reopenDefaults()
                     ->value(QString::fromUtf8(StoredKeys::hasCompletedOnboarding.data()), false)
                     .toBool())
        << "accepting the terms does not complete the first run";

    model->windowWillClose(AppWindow::onboarding);
    EXPECT_TRUE(harness.reopenDefaults()
                    ->value(QString::fromUtf8(StoredKeys::hasCompletedOnboarding.data()), false)
                    .toBool());
    EXPECT_TRUE(harness.loggedLine("Onboarding completed"));
}

TEST(AppModelLifecycle, KeepAwakeDecisionIsWithheldWhileTermsArePending) {
    AppModelHarness harness;
    harness.defaults->setValue(QStringLiteral("Nodwarden.mode"), QStringLiteral("manualKeepAwake"));
    auto model = harness.makeModel();
    model->start();

    // The decision step itself also refuses keep-awake, whatever calls it.
    model->evaluateAndApply(harness.power.snapshot(), LidState::open, {}, true);
    AppModelHarness::settle(*model);

    EXPECT_EQ(model->published().status(), GuardStatus::keepingAwake);
    EXPECT_EQ(model->published().statusReason().toStdString(), AppModel::legalPendingReason);
    EXPECT_FALSE(containsCall(harness.sleep.calls(), "setSleepPrevention(true,false,false)"));
}

// MARK: - Mode and settings

TEST(AppModelLifecycle, ModeChangeForgetsTheCompletionSleepOfThePreviousMode) {
    for (const bool changeMode : {false, true}) {
        SCOPED_TRACE(changeMode);
        AppModelHarness harness;
        harness.acceptTermsAndOnboarding();
        harness.power.setLid(LidState::closed);
        harness.setPerApp({AppModelHarness::signal(SignalStrength::strong, "Claude Code")});
        auto model = harness.makeModel();
        SignalCounter modeSpy(*model, &AppModel::modeChanged);
        model->setMode(AppMode::sleepAfterCurrentWork);
        AppModelHarness::settle(*model);
        ASSERT_EQ(model->published().status(), GuardStatus::keepingAwake);

        harness.setPerApp({});
        harness.tickAndSettle(*model);
        ASSERT_EQ(model->published().status(), GuardStatus::idleGrace);
        const int detectionsBefore = harness.detectionCount();
        if (changeMode) {
            model->setMode(AppMode::watchAgentUI);
            AppModelHarness::settle(*model);
            EXPECT_GT(harness.detectionCount(), detectionsBefore) << "the change ticks at once";
            EXPECT_EQ(SettingsStore::loadMode(*harness.reopenDefaults()), AppMode::watchAgentUI);
        }

        harness.clock.advance(3600);
        harness.tickAndSettle(*model);
        EXPECT_EQ(model->published().status(), GuardStatus::watching);
        const auto calls = harness.sleep.calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "sleepNow"), changeMode ? 0 : 1);
        EXPECT_EQ(modeSpy.count(), changeMode ? 2 : 1);
    }
}

TEST(AppModelLifecycle, SettingTheSameModeAgainIsNoChangeForObservers) {
    AppModelHarness harness;
    auto model = harness.makeModel();
    SignalCounter modeSpy(*model, &AppModel::modeChanged);
    model->setMode(AppMode::watchAgentUI);
    model->setMode(AppMode::watchAgentUI);
    EXPECT_EQ(modeSpy.count(), 1);
    EXPECT_EQ(model->mode(), AppMode::watchAgentUI);
}

TEST(AppModelLifecycle, SwitchingLidClosedOnEngagesProtectionAtOnce) {
    AppModelHarness harness;
    harness.sleep.setEngageSucceeds(false);
    auto model = harness.startModel();
    model->setMode(AppMode::manualKeepAwake);
    AppModelHarness::settle(*model);

    GuardSettings lidClosed = model->settings();
    lidClosed.keepAwakeWithLidClosed = true;
    model->commitSettings(lidClosed);
    AppModelHarness::settle(*model);
    ASSERT_TRUE(model->sleepCommands().lidClosedDeclined());
    EXPECT_TRUE(harness.loggedLine("Lid-closed admin prompt declined — showing downgrade warning"));

    // Declined once: later keep-awake requests no longer ask for the administrator step.
    harness.sleep.clearCalls();
    harness.sleep.setState(true, false, std::nullopt);
    harness.tickAndSettle(*model);
    EXPECT_EQ(harness.sleep.calls(),
              std::vector<std::string>{"setSleepPrevention(true,false,false)"});

    // Off and on again clears the memory and asks at once.
    harness.sleep.setEngageSucceeds(true);
    GuardSettings off = lidClosed;
    off.keepAwakeWithLidClosed = false;
    model->commitSettings(off);
    harness.sleep.clearCalls();
    model->commitSettings(lidClosed);
    AppModelHarness::settle(*model);
    EXPECT_FALSE(model->sleepCommands().lidClosedDeclined());
    EXPECT_EQ(harness.sleep.calls().front(), "setSleepPrevention(true,true,false)");
    EXPECT_TRUE(model->sleepCommands().lidClosedProtectionEngaged());
    EXPECT_EQ(SettingsStore::loadSettings(*harness.reopenDefaults()), lidClosed);
}

// MARK: - Sleep commands

TEST(AppModelLifecycle, LidClosedSwitchedOnDuringACommandIsAskedForAfterwards) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::manualKeepAwake);
    harness.sleep.setState(true, false, false);
    auto model = harness.makeModel();
    harness.sleep.holdCommands();
    AppModelHarness::runSleepCommand(*model, true);
    ASSERT_TRUE(harness.sleep.waitUntilCommandWaiting());

    GuardSettings lidClosed = model->settings();
    lidClosed.keepAwakeWithLidClosed = true;
    model->commitSettings(lidClosed);
    harness.sleep.releaseCommands();
    AppModelHarness::settle(*model);
    harness.tickAndSettle(*model);
    EXPECT_TRUE(harness.sleep.isLidClosedProtectionEngaged());
    EXPECT_EQ(harness.sleep.calls().back(), "setSleepPrevention(true,true,false)");

    // Once engaged, evaluations send nothing more.
    harness.sleep.clearCalls();
    harness.tickAndSettle(*model);
    EXPECT_TRUE(harness.sleep.calls().empty());
}

TEST(AppModelSleepCommands, RequestsWhileInFlightAreDroppedUntilTheWatchdogReopens) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    auto model = harness.makeModel();
    harness.sleep.holdCommands();

    AppModelHarness::runSleepCommand(*model, true);
    ASSERT_TRUE(harness.sleep.waitUntilCommandWaiting());
    EXPECT_TRUE(model->sleepCommands().inFlight());
    AppModelHarness::runSleepCommand(*model, false);

    harness.clock.advance(150);
    model->tick();
    EXPECT_TRUE(model->sleepCommands().inFlight()) << "150 seconds is not yet wedged";
    harness.clock.advance(1.5);
    model->tick();
    EXPECT_FALSE(model->sleepCommands().inFlight());
    const auto lines = harness.logged();
    const auto watchdog = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with(watchdogPrefix);
    });
    ASSERT_NE(watchdog, lines.end());
    EXPECT_EQ(*watchdog, watchdogPrefix +
                             "151s — sleep queue looks wedged; resetting the in-flight guard so "
                             "keep-awake commands are no longer dropped");

    AppModelHarness::runSleepCommand(*model, false);
    harness.sleep.releaseCommands();
    AppModelHarness::settle(*model);
    EXPECT_EQ(harness.sleep.calls(),
              (std::vector<std::string>{"setSleepPrevention(true,false,false)",
                                        "setSleepPrevention(false,false,false)"}))
        << "the request made while in flight was dropped; the one after the watchdog ran";
    EXPECT_FALSE(model->sleepCommands().inFlight());
}

TEST(AppModelSleepCommands, SleepNowDroppedWhileInFlightIsIssuedAgainLater) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.sleep.setState(true, false, false);
    harness.defaults->setValue(QStringLiteral("Nodwarden.mode"), QStringLiteral("watchAgentUI"));
    auto model = harness.makeModel();
    harness.sleep.holdCommands();
    AppModelHarness::runSleepCommand(*model, true);
    ASSERT_TRUE(harness.sleep.waitUntilCommandWaiting());

    // At the battery cutoff while holding the machine awake, every evaluation asks for sleep.
    const PowerSnapshot cutoff = stayloom::testing::FakePowerSources::battery(5);
    model->evaluateAndApply(cutoff, LidState::open, {}, true);
    EXPECT_FALSE(model->sleepCommands().sleepRequested())
        << "dropped, so the next evaluation asks again";

    harness.sleep.releaseCommands();
    AppModelHarness::settle(*model);
    model->evaluateAndApply(cutoff, LidState::open, {}, true);
    EXPECT_TRUE(model->sleepCommands().sleepRequested());
    AppModelHarness::settle(*model);
    const auto calls = harness.sleep.calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"restoreNormalSleep", "sleepNow"}));

    // Served once per request: the next evaluation does not sleep the machine again.
    harness.sleep.clearCalls();
    model->evaluateAndApply(cutoff, LidState::open, {}, true);
    AppModelHarness::settle(*model);
    EXPECT_FALSE(containsCall(harness.sleep.calls(), "sleepNow"));
}

TEST(AppModelSleepCommands, UnconfirmedRestoresSurfaceTheStaleBlock) {
    struct Case {
        const char* name;
        std::function<void(AppModel&)> act;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {"release", [](AppModel& model) { AppModelHarness::runSleepCommand(model, false); },
         "Sleep restore did not confirm the sleep switch back on — surfacing stale-block "
         "banner"},
        {"sleep now", [](AppModel& model) { model.sleepCommands().requestSleepNow(); },
         "Completion/battery sleep could not turn the sleep switch back on — surfacing "
         "stale-block banner"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        AppModelHarness harness;
        harness.sleep.setState(true, true, false);
        harness.sleep.setRestoreSucceeds(false);
        auto model = harness.makeModel();
        testCase.act(*model);
        AppModelHarness::settle(*model);
        EXPECT_TRUE(model->sleepCommands().staleSleepBlockDetected());
        EXPECT_TRUE(harness.loggedLine(testCase.logLine));
        EXPECT_FALSE(model->sleepCommands().sleepPreventionEnabled());
    }
}

TEST(AppModelSleepCommands, EmergencyRestoreTurnsOffAndRecomputesTheStaleBlock) {
    for (const bool restoreWorks : {true, false}) {
        SCOPED_TRACE(restoreWorks);
        AppModelHarness harness;
        harness.acceptTermsAndOnboarding();
        harness.defaults->setValue(QStringLiteral("Nodwarden.mode"),
                                   QStringLiteral("manualKeepAwake"));
        harness.sleep.setState(true, true, false);
        harness.sleep.setSystemSleepDisabled(true);
        harness.sleep.setRestoreSucceeds(restoreWorks);
        auto model = harness.makeModel();

        model->emergencyRestore();
        AppModelHarness::settle(*model);
        EXPECT_EQ(model->mode(), AppMode::off);
        EXPECT_EQ(SettingsStore::loadMode(*harness.reopenDefaults()), AppMode::off);
        EXPECT_TRUE(containsCall(harness.sleep.calls(), "emergencyRestore"));
        EXPECT_EQ(model->sleepCommands().staleSleepBlockDetected(), !restoreWorks);
        EXPECT_TRUE(harness.loggedLine("Emergency restore completed from menu"));
    }
}

TEST(AppModelSleepCommands, QuitDrainsSavesAndRestoresOnlyWhenWanted) {
    for (const bool restoreOnQuit : {true, false}) {
        SCOPED_TRACE(restoreOnQuit);
        AppModelHarness harness;
        harness.acceptTermsAndOnboarding();
        GuardSettings settings{.restoreNormalSleepOnQuit = restoreOnQuit};
        SettingsStore::saveSettings(*harness.defaults, settings, *harness.logger);
        harness.sleep.setState(true, false, false);
        harness.storeMode(AppMode::manualKeepAwake);
        auto model = harness.makeModel();
        model->tick(); // a pass under way at the quit

        model->applicationWillTerminate();
        model->applicationWillTerminate();
        AppModelHarness::settle(*model);
        EXPECT_EQ(countCalls(harness.sleep.calls(), "restoreNormalSleep"), restoreOnQuit ? 1 : 0);
        EXPECT_EQ(harness.sleep.isSleepPreventionEnabled(), !restoreOnQuit)
            << "without the setting the keep-awake child is left for the next launch";
        EXPECT_TRUE(harness.reopenDefaults()->contains(QStringLiteral("Nodwarden.metrics")));
        EXPECT_TRUE(harness.loggedLine("Application terminating"));
    }
}

TEST(AppModelSleepCommands, ResultsOfAModelThatIsGoneAreDropped) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    {
        auto model = harness.makeModel();
        harness.sleep.holdCommands();
        AppModelHarness::runSleepCommand(*model, true);
        ASSERT_TRUE(harness.sleep.waitUntilCommandWaiting());
        harness.sleep.releaseCommands();
    } // the model finishes its queued command while it is destroyed
    QCoreApplication::processEvents();
    EXPECT_EQ(harness.sleep.calls(),
              std::vector<std::string>{"setSleepPrevention(true,false,false)"});
}

// MARK: - Login item, windows, Accessibility

TEST(AppModelFirstRun, LaunchAtLoginOutcomes) {
    using Status = LoginItemStatus;
    struct Case {
        const char* name;
        bool enable;
        std::optional<std::string> registerError;
        Status statusAfterRegister;
        bool settingAfter;
        std::optional<std::string> message;
        std::string logLine;
        bool opensLoginItems;
    };
    const std::vector<Case> cases = {
        {"blocked", true, "not allowed here", Status::enabled, false,
         "The autostart entry could not be written (not allowed here). Check that "
         "~/.config/autostart exists and is yours to write.",
         "Launch at login register failed: not allowed here", false},
        {"needs approval", true, std::nullopt, Status::requiresApproval, true,
         "Allow “Stayloom” in your desktop's startup applications so it starts at your next "
         "login.",
         "Launch at login requires approval", true},
        {"not active", true, std::nullopt, Status::notFound, true,
         "Launch at login isn’t active yet. Check the Stayloom entry in your desktop's startup "
         "applications (~/.config/autostart).",
         "Launch at login status after register: notFound", false},
        {"enabled", true, std::nullopt, Status::enabled, true, std::nullopt,
         "Launch at login enabled", false},
        {"disabled", false, std::nullopt, Status::enabled, false, std::nullopt,
         "Launch at login disabled", false},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        AppModelHarness harness;
        harness.acceptTermsAndOnboarding();
        harness.loginItems.setRegisterError(testCase.registerError);
        harness.loginItems.setStatusAfterRegister(testCase.statusAfterRegister);
        harness.loginItems.setUnregisterError("refused");
        auto model = harness.makeModel();

        model->setLaunchAtLogin(testCase.enable);
        EXPECT_EQ(model->settings().launchAtLoginEnabled, testCase.settingAfter);
        EXPECT_EQ(SettingsStore::loadSettings(*harness.reopenDefaults()).launchAtLoginEnabled,
                  testCase.settingAfter);
        EXPECT_EQ(model->launchAtLogin().message().has_value(), testCase.message.has_value());
        if (testCase.message) {
            EXPECT_EQ(model->launchAtLogin().message()->toStdString(), *testCase.message);
        }
        EXPECT_TRUE(harness.loggedLine(testCase.logLine));
        EXPECT_EQ(containsCall(harness.windows.calls(), "openSystemSettingsPane(loginItems)"),
                  testCase.opensLoginItems);
    }
}

TEST(AppModelFirstRun, LaunchReconcilesTheLoginItemTowardsTheSetting) {
    struct Case {
        const char* name;
        bool wanted;
        LoginItemStatus status;
        std::optional<std::string> registerError;
        int registrations;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"already enabled",
         true,
         LoginItemStatus::enabled,
         std::nullopt,
         0,
         {"Launch at login on launch: wanted=true, OS status=enabled"}},
        {"not wanted",
         false,
         LoginItemStatus::enabled,
         std::nullopt,
         0,
         {"Launch at login on launch: wanted=false, OS status=enabled"}},
        {"registered",
         true,
         LoginItemStatus::notRegistered,
         std::nullopt,
         1,
         {"Launch at login on launch: wanted=true, OS status=notRegistered",
          "Launch at login reconciled on launch (now enabled)"}},
        {"refused",
         true,
         LoginItemStatus::notRegistered,
         "denied",
         1,
         {"Launch at login on launch: wanted=true, OS status=notRegistered",
          "Launch at login reconcile failed: denied"}},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        AppModelHarness harness;
        harness.acceptTermsAndOnboarding();
        GuardSettings settings{.launchAtLoginEnabled = testCase.wanted};
        SettingsStore::saveSettings(*harness.defaults, settings, *harness.logger);
        harness.loginItems.setStatus(testCase.status);
        harness.loginItems.setRegisterError(testCase.registerError);
        auto model = harness.makeModel();

        model->reconcileLaunchAtLogin();
        EXPECT_EQ(harness.loginItems.registerCount(), testCase.registrations);
        auto lines = harness.logged();
        std::erase_if(lines,
                      [](const std::string& line) { return !line.starts_with("Launch at login"); });
        EXPECT_EQ(lines, testCase.lines);
        EXPECT_EQ(model->settings().launchAtLoginEnabled, testCase.wanted);
    }
}

TEST(AppModelFirstRun, StatusNamesIncludeUnknownValues) {
    EXPECT_EQ(LaunchAtLogin::statusName(LoginItemStatus::notRegistered), "notRegistered");
    EXPECT_EQ(LaunchAtLogin::statusName(LoginItemStatus::requiresApproval), "requiresApproval");
    EXPECT_EQ(LaunchAtLogin::statusName(3), "notFound");
    EXPECT_EQ(LaunchAtLogin::statusName(7), "unknown(7)");
}

TEST(AppModelFirstRun, SettingsWindowOpensAtTheRequestedTab) {
    AppModelHarness harness;
    auto model = harness.makeModel();
    SignalCounter tabSpy(*model, &AppModel::selectedSettingsTabChanged);

    model->openSettingsWindow();
    model->openSettingsWindow(SettingsTab::stats);
    model->openSettingsWindow();
    EXPECT_EQ(harness.windows.calls(), (std::vector<std::string>{"presentSettingsWindow(general)",
                                                                 "presentSettingsWindow(stats)",
                                                                 "presentSettingsWindow(stats)"}));
    EXPECT_EQ(tabSpy.count(), 1);
}

TEST(AppModelFirstRun, AccessibilityTrustFollowsThePlatform) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.accessibilityPlatform.setTrusted(false);
    auto model = harness.makeModel();
    SignalCounter trustSpy(*model, &AppModel::accessibilityTrustedChanged);

    harness.tickAndSettle(*model);
    EXPECT_FALSE(model->accessibilityTrusted());
    EXPECT_EQ(trustSpy.count(), 0);
    // Asking may wait on the session bus: the tick leaves it to the detection pass.
    EXPECT_EQ(harness.accessibilityPlatform.trustQueriesOn(std::this_thread::get_id()), 0);

    model->requestAccessibilityPermission();
    EXPECT_EQ(harness.accessibilityPlatform.promptCount(), 1);
    EXPECT_TRUE(containsCall(harness.windows.calls(), "openSystemSettingsPane(accessibility)"));

    harness.accessibilityPlatform.setTrusted(true);
    harness.tickAndSettle(*model);
    EXPECT_TRUE(model->accessibilityTrusted());
    EXPECT_EQ(trustSpy.count(), 1);
}

TEST(AppModelFirstRun, UnmatchedHostReportsGoToTheLogWhileTheModelLives) {
    AppModelHarness harness;
    {
        auto model = harness.makeModel();
        const auto report = AgentResolver::onUnmatchedHostBundle();
        ASSERT_TRUE(bool(report));
        report("Host Tool", "claude");
        EXPECT_TRUE(harness.loggedLine(
            "unmatched app bundle \"Host Tool\" hosts known agent binary \"claude\""));
    }
    EXPECT_FALSE(bool(AgentResolver::onUnmatchedHostBundle()));
}

TEST(AppModelFirstRun, AutostartEntryServesAsTheLoginItem) {
    stayloom::testing::TemporaryDirectory folder;
    XdgLoginItemService service(
        linuxplatform::XdgAutostart(folder.path() / "autostart", {}, "/opt/stayloom/bin/Stayloom"));
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
    service.registerItem();
    EXPECT_EQ(service.status(), LoginItemStatus::enabled);
    EXPECT_TRUE(
        std::filesystem::exists(folder.path() / "autostart" / "org.stayloom.Stayloom.desktop"));
    service.unregisterItem();
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);

    // An earlier version's entry reads as on and is replaced by one under the desktop-file id.
    const auto earlier = folder.write("autostart/stayloom.desktop",
                                      "[Desktop Entry]\nExec=/opt/stayloom/bin/Stayloom\n");
    EXPECT_EQ(service.status(), LoginItemStatus::enabled);
    EXPECT_FALSE(std::filesystem::exists(earlier));
    EXPECT_NE(
        stayloom::testing::readFile(folder.path() / "autostart" / "org.stayloom.Stayloom.desktop")
            .find("\nIcon=org.stayloom.Stayloom\n"),
        std::string::npos);

    // A file where the autostart folder belongs: the platform's refusal reaches the model.
    folder.write("blocked", "");
    XdgLoginItemService blocked(
        linuxplatform::XdgAutostart(folder.path() / "blocked", {}, "/opt/stayloom/bin/Stayloom"));
    EXPECT_THROW(blocked.registerItem(), LoginItemError);
}

TEST(AppModelLifecycle, AFailedDetectionPassIsLoggedAndDetectionGoesOn) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    auto environment = harness.environment();
    std::atomic<int> calls = 0;
    environment.detectPerApp = [&calls](const GuardSettings&, const PowerSnapshot&, Date) {
        if (++calls == 1) {
            throw std::runtime_error("process table unreadable");
        }
        return std::vector<ActivitySignal>{
            AppModelHarness::signal(SignalStrength::strong, "Codex")};
    };
    AppModel model(std::move(environment));

    harness.tickAndSettle(model);
    EXPECT_FALSE(model.detectionInFlight());
    EXPECT_TRUE(harness.loggedLine("Detection pass failed: process table unreadable"));

    harness.tickAndSettle(model);
    EXPECT_EQ(calls.load(), 2);
    EXPECT_EQ(model.published().detectedAppName().toStdString(), "Codex");
}

// MARK: - Commands kept awake by `stayloom run`

TEST(AppModelCommandRuns, ACommandShowsAsARowWhileItsRunLastsAndGoesWithIt) {
    AppModelHarness harness;
    auto model = harness.startModel(AppMode::watchAgentUI);
    harness.tickAndSettle(*model);
    const auto rowNamed = [&model](const std::string& name) {
        const auto& rows = model->published().agentRows();
        return std::find_if(rows.begin(), rows.end(), [&](const AgentStatusRow& row) {
                   return row.name == name;
               }) != rows.end();
    };

    model->commandRunStarted(std::int32_t(::getpid()), "make");
    EXPECT_TRUE(rowNamed("make"));
    // A tick rebuilds the agents' rows and keeps the command's.
    harness.tickAndSettle(*model);
    EXPECT_TRUE(rowNamed("make"));
    model->commandRunEnded(std::int32_t(::getpid()));
    EXPECT_FALSE(rowNamed("make"));

    // A run killed outright never says it ended: its row goes once its process is gone.
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    model->commandRunStarted(std::int32_t(gone), "ninja");
    harness.tickAndSettle(*model);
    EXPECT_FALSE(rowNamed("ninja"));
}

TEST(CommandRunRows, RunsComeFirstWithinTheRowLimitAndGoWithTheirProcess) {
    std::set<std::int32_t> alive;
    CommandRunRows runs([&alive](std::int32_t pid) { return alive.contains(pid); });
    SignalCounter changes(runs, &CommandRunRows::changed);
    for (std::int32_t pid = 1; pid <= 40; ++pid) {
        alive.insert(pid);
        runs.started(pid, std::string(100, 'x'));
    }
    runs.started(0, "no process");
    EXPECT_EQ(changes.count(), int(CommandRunRows::maxRuns)) << "a peer cannot grow the list";
    AgentStatusRow agent;
    agent.name = "Claude Code";
    auto rows = runs.withCommandRows({agent});
    ASSERT_EQ(rows.size(), maxAgentRows);
    EXPECT_TRUE(rows.front().fromCommand);
    EXPECT_EQ(rows.front().name.size(), CommandRunRows::maxNameBytes);

    alive = {2};
    rows = runs.withCommandRows({agent});
    ASSERT_EQ(rows.size(), 2u) << "the runs whose process is gone leave, the agent's row stays";
    EXPECT_TRUE(rows[0].fromCommand);
    EXPECT_EQ(rows[1].name, "Claude Code");
    runs.ended(2);
    runs.ended(2);
    EXPECT_EQ(changes.count(), int(CommandRunRows::maxRuns) + 1);
    EXPECT_EQ(runs.withCommandRows(std::move(rows)).size(), 1u);
}

TEST(TimedKeepAwake, GoesBackToTheModeBeforeTheFirstAndOnlyOnceDue) {
    TimedKeepAwake timed;
    EXPECT_EQ(timed.start(100, 0, AppMode::watchAgentUI), std::nullopt);
    EXPECT_EQ(timed.start(100, 60, AppMode::watchAgentUI), AppMode::watchAgentUI);
    // A second one while the first lasts keeps the mode to go back to, not manual mode.
    EXPECT_EQ(timed.start(130, 60, AppMode::manualKeepAwake), AppMode::watchAgentUI);
    EXPECT_EQ(timed.until(), 190);
    EXPECT_EQ(timed.takeDue(189), std::nullopt);
    SignalCounter changes(timed, &TimedKeepAwake::changed);
    EXPECT_EQ(timed.takeDue(190), AppMode::watchAgentUI);
    EXPECT_EQ(timed.takeDue(500), std::nullopt);
    EXPECT_EQ(timed.until(), std::nullopt);
    EXPECT_EQ(changes.count(), 1);
}

// MARK: - Timed keep-awake

TEST(AppModelTimedKeepAwake, KeepsAwakeForItsTimeThenTheModeBeforeReturnsAndAPickEndsIt) {
    AppModelHarness harness;
    auto model = harness.startModel(AppMode::sleepAfterCurrentWork);
    harness.tickAndSettle(*model);

    model->keepAwakeFor(3600);
    EXPECT_EQ(model->mode(), AppMode::manualKeepAwake);
    EXPECT_EQ(model->timedKeepAwake().until(), harness.clock.now() + 3600);
    harness.tickAndSettle(*model);
    // The hold and the panel say it ends by itself, and the reason stays put while it runs.
    EXPECT_EQ(harness.sleep.keepAwakeReason(), "Keeping awake for 1 h");
    EXPECT_EQ(model->published().statusReason(), QStringLiteral("Keeping awake for 1 h"));
    EXPECT_EQ(keepAwakeLength(7200), "2 h");
    EXPECT_EQ(keepAwakeLength(5400), "1 h 30 min");
    // As asked, to the second.
    EXPECT_EQ(keepAwakeLength(90), "1 min 30 s");
    // A quit meanwhile starts again in the mode before, not kept awake for good.
    EXPECT_EQ(SettingsStore::loadMode(*harness.defaults), AppMode::sleepAfterCurrentWork);
    // The pass's result ticks too, half a second later on the harness's clock.
    harness.clock.advance(3598);
    harness.tickAndSettle(*model);
    EXPECT_EQ(model->mode(), AppMode::manualKeepAwake);
    harness.clock.advance(2);
    harness.tickAndSettle(*model);
    EXPECT_EQ(model->mode(), AppMode::sleepAfterCurrentWork);
    EXPECT_FALSE(model->timedKeepAwake().until().has_value());

    // A mode the user picks ends it where it is.
    model->keepAwakeFor(7200);
    model->setMode(AppMode::off);
    harness.clock.advance(7201);
    harness.tickAndSettle(*model);
    EXPECT_EQ(model->mode(), AppMode::off);
    EXPECT_EQ(SettingsStore::loadMode(*harness.defaults), AppMode::off);
}
