// The model under faults of its surroundings: a clock that jumps, stores that cannot be read,
// folders that cannot be written.

#include "AppSupport/AppModelHarness.hpp"

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/model/StoredDocument.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using namespace nodwarden;
using namespace nodwarden::app;
using namespace stayloom::testing;

namespace {

QString key(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

ActivitySignal working(const std::string& name) {
    return AppModelHarness::signal(SignalStrength::strong, name);
}

} // namespace

// MARK: - Clock jumps

TEST(FaultModel, ClockJumpsForwardAndBackCountNothingAndEndTheSessionAsInterrupted) {
    AppModelHarness harness;
    harness.setPerApp({working("Codex")});
    auto model = harness.startModel(AppMode::watchAgentUI);
    const auto run = [&](int ticks) {
        for (int step = 0; step < ticks; ++step) {
            harness.clock.advance(2.5);
            harness.tickAndSettle(*model);
        }
    };
    run(10);
    ASSERT_TRUE(model->metrics().sessionStartedAt().has_value());
    const double keptBefore = model->metrics().totalKeptAwakeSeconds();
    ASSERT_GT(keptBefore, 0);

    // Forward by an hour (a suspend the program did not see): nothing counted for the gap.
    harness.clock.advance(3600);
    harness.tickAndSettle(*model);
    EXPECT_EQ(model->metrics().lastCloseReason(), SessionCloseReason::interrupted);
    EXPECT_EQ(model->metrics().wakeGapTicksDropped(), 1);
    EXPECT_LT(model->metrics().totalKeptAwakeSeconds(), keptBefore + 1)
        << "at most the detection's half second after the jump is counted";
    EXPECT_TRUE(model->sleepCommands().sleepPreventionEnabled())
        << "the work goes on after the jump";

    run(10);
    ASSERT_TRUE(model->metrics().sessionStartedAt().has_value()) << "a new session opened";
    const double keptAfterForward = model->metrics().totalKeptAwakeSeconds();
    EXPECT_GT(keptAfterForward, keptBefore);

    // Back by two hours (a clock correction): nothing counted, the session ends again.
    harness.clock.advance(-7200);
    harness.tickAndSettle(*model);
    EXPECT_EQ(model->metrics().lastCloseReason(), SessionCloseReason::interrupted);
    EXPECT_EQ(model->metrics().wakeGapTicksDropped(), 1) << "a step back is not a wake gap";
    EXPECT_LT(model->metrics().totalKeptAwakeSeconds(), keptAfterForward + 1)
        << "at most the detection's half second after the step is counted";

    // Counting resumes from the new time; the work is still held awake.
    run(4);
    EXPECT_GT(model->metrics().totalKeptAwakeSeconds(), keptAfterForward);
    EXPECT_TRUE(model->sleepCommands().sleepPreventionEnabled());
    model->applicationWillTerminate();
}

TEST(FaultModel, WedgedSleepCommandIsStillReleasedByTheWatchdogAfterTheClockStepsBack) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::manualKeepAwake);
    harness.sleep.holdCommands();
    auto model = harness.makeModel();
    AppModelHarness::runSleepCommand(*model, true);
    ASSERT_TRUE(harness.sleep.waitUntilCommandWaiting());
    ASSERT_TRUE(model->sleepCommands().inFlight());

    // The command hangs and the clock is set back a day meanwhile.
    harness.clock.advance(-86400);
    model->tick();
    EXPECT_TRUE(model->sleepCommands().inFlight()) << "not yet wedged for long";
    harness.clock.advance(SleepCommands::watchdogSeconds + 5);
    model->tick();
    EXPECT_FALSE(model->sleepCommands().inFlight())
        << "the watchdog must not wait for the clock to catch up with the step";
    const auto lines = harness.logged();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.starts_with("WATCHDOG:"); }));

    harness.sleep.releaseCommands();
    AppModelHarness::settle(*model);
}

// MARK: - A detection pass that does not end

namespace {

/// Detection that, after `passesLetThrough` passes, waits until the test lets it go, as a pass
/// stuck in a read would. The model's passes share it, so it outlives the model and the harness.
class StuckDetection {
public:
    explicit StuckDetection(int passesLetThrough) : passesLetThrough_(passesLetThrough) {}

    std::vector<ActivitySignal> run() {
        std::unique_lock lock(mutex_);
        const int pass = ++passes_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_ || pass <= passesLetThrough_; });
        return {working("Codex")};
    }

    bool waitForPasses(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return passes_ >= count; });
    }

    int passes() {
        const std::lock_guard lock(mutex_);
        return passes_;
    }

    void release() {
        const std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const int passesLetThrough_;
    int passes_ = 0;
    bool released_ = false;
};

std::unique_ptr<AppModel> modelDetectingWith(AppModelHarness& harness,
                                             const std::shared_ptr<StuckDetection>& detection) {
    auto environment = harness.environment();
    environment.detectPerApp = [detection](const GuardSettings&, const PowerSnapshot&, Date) {
        return detection->run();
    };
    return std::make_unique<AppModel>(std::move(environment));
}

} // namespace

TEST(FaultModel, ADetectionPassThatOverrunsIsLoggedOnceAndDecisionsGoOnWithoutIt) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    const auto detection = std::make_shared<StuckDetection>(1);
    auto model = modelDetectingWith(harness, detection);
    harness.tickAndSettle(*model);
    ASSERT_EQ(model->published().lastSignalStrength(), SignalStrength::strong);

    model->tick();
    ASSERT_TRUE(detection->waitForPasses(2));
    harness.clock.advance(DetectionScheduler::overrunSeconds - 1);
    model->tick();
    EXPECT_EQ(model->published().lastSignalStrength(), SignalStrength::strong) << "not overrun yet";
    harness.clock.advance(2);
    model->tick();
    model->tick();
    const auto lines = harness.logged();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.starts_with("Detection pass still running after");
                            }),
              1);
    EXPECT_EQ(model->published().lastSignalStrength(), SignalStrength::none)
        << "the agents the last pass saw are no longer current";
    EXPECT_EQ(detection->passes(), 2) << "no pass starts beside the one still running";

    // Once it ends, passes go on as before.
    detection->release();
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] { return !model->detectionInFlight(); }));
    harness.tickAndSettle(*model);
    EXPECT_EQ(detection->passes(), 3);
    EXPECT_EQ(model->published().lastSignalStrength(), SignalStrength::strong);
}

TEST(FaultModel, QuitDoesNotWaitForADetectionPassThatDoesNotEnd) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    const auto detection = std::make_shared<StuckDetection>(0);
    auto model = modelDetectingWith(harness, detection);
    model->tick();
    ASSERT_TRUE(detection->waitForPasses(1));

    // Lets the pass go if quitting waits for it, so a fault fails the test instead of hanging.
    std::mutex mutex;
    std::condition_variable quitEnded;
    bool quit = false;
    bool rescued = false;
    std::thread rescuer([&] {
        std::unique_lock lock(mutex);
        if (!quitEnded.wait_for(lock, std::chrono::seconds(20), [&] { return quit; })) {
            rescued = true;
            detection->release();
        }
    });
    model->applicationWillTerminate();
    model.reset();
    {
        const std::lock_guard lock(mutex);
        quit = true;
    }
    quitEnded.notify_all();
    rescuer.join();
    EXPECT_FALSE(rescued) << "quitting waited for the stuck pass";
    EXPECT_TRUE(harness.loggedLine("Detection pass still running at quit; left behind"));

    // The pass left behind ends later and finds nothing of the model it reported to.
    detection->release();
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] { return detection.use_count() == 1; }));
}

// MARK: - Stores and folders

TEST(FaultModel, CorruptedSettingsAndStatisticsAreKeptAsideAndReplacedByWorkingOnes) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::manualKeepAwake);
    const QByteArray garbageSettings("{\"batteryProfile\": [1, 2");
    const QByteArray garbageMetrics("\xff\xfe not statistics");
    harness.defaults->setValue(key(StoredKeys::settings), garbageSettings);
    harness.defaults->setValue(key(StoredKeys::metrics), garbageMetrics);
    harness.defaults->sync();

    {
        auto model = harness.makeModel();
        EXPECT_EQ(model->settings(), GuardSettings::defaults());
        EXPECT_EQ(model->metrics().totalManualSeconds(), 0);
        model->start();
        for (int step = 0; step < 5; ++step) {
            harness.clock.advance(3);
            harness.tickAndSettle(*model);
        }
        EXPECT_TRUE(model->sleepCommands().sleepPreventionEnabled());
        // A change from the settings window writes the settings over the unreadable ones.
        GuardSettings changed = model->settings();
        changed.setIdleGracePeriodSeconds(45);
        model->commitSettings(changed);
        AppModelHarness::settle(*model);
        model->applicationWillTerminate();
    }

    const auto reopened = harness.reopenDefaults();
    EXPECT_EQ(reopened->value(key(StoredKeys::settings) + key(StoredDocument::unreadableSuffix))
                  .toByteArray(),
              garbageSettings);
    // Bytes that are not text stay out of the settings file, which holds only text: they are kept
    // in a file beside it.
    EXPECT_FALSE(
        reopened->contains(key(StoredKeys::metrics) + key(StoredDocument::unreadableSuffix)));
    EXPECT_EQ(readFile(harness.home.path() / "Nodwarden.metrics.unreadable"),
              garbageMetrics.toStdString());
    EXPECT_EQ(SettingsStore::loadSettings(*reopened).idleGracePeriodSeconds(), 45);
    // The next start reads the statistics this run wrote.
    const auto reloaded = MetricsStore::load(*reopened, harness.clock.now());
    EXPECT_GT(reloaded.totalManualSeconds(), 0);
}

TEST(FaultModel, UnwritableLogFolderAndLedgerDoNotStopKeepAwake) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    // Files where the folders should be: every log and ledger write fails.
    harness.home.write("blocked", "not a folder");
    FileLogger blockedLogger(harness.home.path() / "blocked" / "logs" / "Nodwarden.log");
    auto environment = harness.environment();
    environment.logger = &blockedLogger;
    environment.runLedgerPath = harness.home.path() / "blocked" / "Stayloom-runs.log";
    harness.setPerApp({working("Claude Code")});
    AppModel model(std::move(environment));
    model.start();
    for (int step = 0; step < 5; ++step) {
        harness.clock.advance(2.5);
        harness.tickAndSettle(model);
    }
    EXPECT_TRUE(model.sleepCommands().sleepPreventionEnabled());

    // The session ends (its ledger line is lost) and the machine is let sleep again.
    harness.setPerApp({});
    for (int step = 0; step < 80; ++step) {
        harness.clock.advance(2.5);
        harness.tickAndSettle(model);
    }
    EXPECT_FALSE(model.metrics().sessionStartedAt().has_value());
    EXPECT_FALSE(model.sleepCommands().sleepPreventionEnabled());
    model.applicationWillTerminate();
    blockedLogger.flush();
    EXPECT_FALSE(std::filesystem::exists(harness.home.path() / "blocked" / "Stayloom-runs.log"));
    EXPECT_GT(model.metrics().totalKeptAwakeSeconds(), 0) << "the statistics still counted";
}
