// The real model, timer and queues over the real Linux services, on a simulated machine: fixture
// trees for power and lid, helper programs that record what they are asked, and a real busy
// process named `claude` found in the real process table.

#include "AppSupport/AppModelHarness.hpp"
#include "AppSupport/FakeMachine.hpp"

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/platform/LinuxPlatform.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/PlatformPaths.hpp>

#include <QCoreApplication>
#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

using namespace nodwarden;
using namespace nodwarden::app;
using namespace stayloom::testing;

namespace {

template <typename Predicate> bool runUntil(Predicate done, int limitMilliseconds = 20000) {
    return AppModelHarness::processEventsUntil(done, limitMilliseconds);
}

void runFor(int milliseconds) {
    runUntil([] { return false; }, milliseconds);
}

GuardSettings fastSettings() {
    GuardSettings settings = GuardSettings::defaults();
    // The editor clamps the grace; stored settings may hold any value, which keeps this run short.
    settings.setIdleGracePeriodSeconds(2);
    // Low, so the busy child counts as working even on a loaded machine.
    settings.setCpuThresholdPercent(3);
    settings.setSleepAfterCompletion(true);
    settings.setSleepOnlyIfLidClosed(true);
    settings.accessibilityDetectionEnabled = false;
    settings.restoreNormalSleepOnQuit = true;
    return settings;
}

} // namespace

TEST(EndToEnd, WorkKeepsAwakeThenOneSleepWithTheLidClosedAndQuitEndsTheHold) {
    FakeMachine machine;
    // Anything that falls back to the shared log or the user's folders stays in the simulation.
    ::setenv("HOME", machine.home().c_str(), 1);
    ::unsetenv("XDG_STATE_HOME");
    ::setenv("XDG_CONFIG_HOME", machine.configHome().c_str(), 1);
    machine.storeSettings(AppMode::watchAgentUI, fastSettings());

    LinuxPlatformOptions options = machine.options();
    options.accessibility = std::make_shared<FakeAccessibilityPlatform>();
    options.tickInterval = 1.0;
    options.firstTickDelay = 0.2;
    RecordingWindowPresenter windows;
    FileLogger logger(PlatformPaths::diagnosticLogPath(options.paths));
    AppEnvironment environment = makeLinuxEnvironment(options, windows, logger);

    std::atomic<int> passes{0};
    environment.detectPerApp = [detect = environment.detectPerApp,
                                &passes](const GuardSettings& settings, const PowerSnapshot& power,
                                         Date now) {
        ++passes;
        return detect(settings, power, now);
    };
    auto model = std::make_unique<AppModel>(std::move(environment));
    model->start();
    ASSERT_TRUE(runUntil([&] { return model->published().status() == GuardStatus::watching; }));
    EXPECT_TRUE(model->published().isOnACPower()) << "power comes from the sysfs fixture";
    EXPECT_EQ(model->published().lidDescription(), QStringLiteral("Open"));

    const auto pidFile = PlatformPaths::keepAwakePidPath(options.paths);
    const int passesBeforeWork = passes.load();
    auto agent = std::make_unique<BusyAgent>(machine.agentProgram());
    machine.showProcess(agent->pid());
    ASSERT_TRUE(runUntil([&] { return !machine.keepAwakeStarts().empty(); }))
        << model->published().statusReason().toStdString() << "\n"
        << readFile(PlatformPaths::diagnosticLogPath(options.paths));
    EXPECT_LE(passes.load() - passesBeforeWork, 2) << "keep-awake started later than two ticks";
    const pid_t firstHold = machine.keepAwakeStarts().front();
    EXPECT_TRUE(processIsLive(firstHold));
    ASSERT_TRUE(runUntil([&] { return model->sleepCommands().sleepPreventionEnabled(); }));
    EXPECT_EQ(model->published().status(), GuardStatus::keepingAwake);
    EXPECT_EQ(model->published().detectedAppName(), QStringLiteral("Claude Code"));
    EXPECT_TRUE(std::filesystem::exists(pidFile));

    // The agent finishes with the lid closed: after the grace the machine is put to sleep, once.
    machine.setLidClosed(true);
    agent->stop();
    ASSERT_TRUE(runUntil([&] { return machine.countRecorded("sleep-switch", "suspend") > 0; }));
    runFor(3500);
    EXPECT_EQ(machine.countRecorded("sleep-switch", "suspend"), 1);
    EXPECT_EQ(machine.countRecorded("stayloom-inhibit", "stop " + std::to_string(firstHold)), 1);
    EXPECT_FALSE(processIsLive(firstHold));
    EXPECT_FALSE(model->sleepCommands().sleepPreventionEnabled());

    const auto ledger = PlatformPaths::runLedgerPath(options.paths);
    ASSERT_TRUE(runUntil([&] { return !readFile(ledger).empty(); }));
    const std::string ledgerText = readFile(ledger);
    EXPECT_EQ(ledgerText.rfind("ts=", 0), 0u) << ledgerText;
    EXPECT_NE(ledgerText.find("agent=\""), std::string::npos) << ledgerText;
    EXPECT_EQ(std::count(ledgerText.begin(), ledgerText.end(), '\n'), 1) << ledgerText;

    // Back at work with the lid open, then the program quits while holding the machine awake.
    machine.setLidClosed(false);
    agent = std::make_unique<BusyAgent>(machine.agentProgram());
    machine.showProcess(agent->pid());
    ASSERT_TRUE(runUntil([&] { return machine.keepAwakeStarts().size() == 2; }));
    const pid_t secondHold = machine.keepAwakeStarts().back();
    ASSERT_TRUE(runUntil([&] { return model->sleepCommands().sleepPreventionEnabled(); }));
    agent->stop();

    model->applicationWillTerminate();
    EXPECT_FALSE(processIsLive(secondHold));
    EXPECT_EQ(machine.countRecorded("stayloom-inhibit", "stop " + std::to_string(secondHold)), 1);
    EXPECT_FALSE(std::filesystem::exists(pidFile));
    EXPECT_TRUE(machine.recorded("elevator").empty())
        << "keep-awake with the lid open never asks for administrator rights";
    model.reset();

    // The statistics reached their own file, as the next launch reads it, and the settings file
    // holds none of them.
    QSettings reread(QString::fromStdString(machine.settingsFile().string()), QSettings::IniFormat);
    EXPECT_FALSE(reread.contains(QString::fromUtf8(StoredKeys::metrics.data())));
    MetricsStore::MetricsFile statistics(*PlatformPaths::statisticsPath(options.paths));
    const UsageMetrics saved = MetricsStore::load(reread, statistics, 0, logger);
    EXPECT_GT(saved.totalKeptAwakeSeconds(), 0.0);
    EXPECT_GE(saved.totalWorkSessions(), 1);
}
