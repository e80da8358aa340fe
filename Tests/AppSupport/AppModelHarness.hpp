#pragma once

// Builds an AppModel over fakes for every service, a real INI settings file and a real log file in
// a temporary folder. Shared by the model's test programs.

#include "AppSupport/AppServiceFakes.hpp"
#include "Support/FakeAccessibilityPlatform.hpp"
#include "Support/LoggedMessages.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/model/Notices.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QThread>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace stayloom::testing {

/// Counts the emissions of one change signal of the model.
class SignalCounter {
public:
    template <typename Sender, typename Signal> SignalCounter(Sender& sender, Signal signal) {
        QObject::connect(&sender, signal, &sender, [this] { ++count_; });
    }
    int count() const { return count_; }

private:
    int count_ = 0;
};

class AppModelHarness {
public:
    AppModelHarness();

    /// Stores acceptance of the current terms and a completed first run, as after earlier runs.
    void acceptTermsAndOnboarding();

    /// What the detection pass reports from now on.
    void setPerApp(std::vector<nodwarden::ActivitySignal> perApp) {
        std::lock_guard lock(detectionMutex_);
        perApp_ = std::move(perApp);
    }
    int detectionCount() const {
        std::lock_guard lock(detectionMutex_);
        return detectionCount_;
    }

    nodwarden::app::AppEnvironment environment();

    /// The wording harnesses made from now on use: the Linux program's, unless a test of the
    /// macOS texts chooses those with `UsingWording`.
    static const nodwarden::app::PlatformWording*& defaultWording();
    const nodwarden::app::PlatformWording* wording = defaultWording();

    std::unique_ptr<nodwarden::app::AppModel> makeModel() {
        return std::make_unique<nodwarden::app::AppModel>(environment());
    }

    /// The common start of a model test: the terms accepted and onboarding done, `mode` stored
    /// when given, and a model made and started. Settings and signals are stored before.
    std::unique_ptr<nodwarden::app::AppModel>
    startModel(std::optional<nodwarden::AppMode> mode = std::nullopt);

    /// Runs a tick and lets every background job it started finish and report back. The
    /// detection pass takes `detectionSeconds` of the clock, as a real one takes a moment.
    void tickAndSettle(nodwarden::app::AppModel& model, double detectionSeconds = 0.5);

    /// Stores `settings` as an earlier run would have left them.
    void storeSettings(const nodwarden::GuardSettings& settings) {
        nodwarden::app::SettingsStore::saveSettings(*defaults, settings, *logger);
    }
    void storeMode(nodwarden::AppMode mode) {
        nodwarden::app::SettingsStore::saveMode(*defaults, mode);
    }

    /// Lets queued background work finish and report back, including work started by reports.
    static void settle(nodwarden::app::AppModel& model);
    /// Turns keep-awake on or off on `model`'s sleep-command queue, as the decisions do; dropped
    /// while a command runs.
    static void runSleepCommand(nodwarden::app::AppModel& model, bool enabled);

    /// Runs the event loop until `done` holds or `limitMilliseconds` pass; returns `done()`.
    template <typename Predicate>
    static bool processEventsUntil(Predicate done, int limitMilliseconds = 20000) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!done() && elapsed.elapsed() < limitMilliseconds) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        return done();
    }

    std::vector<std::string> logged() { return loggedMessages(*logger); }
    bool loggedLine(const std::string& message);

    /// A second view of the settings file, as the next launch would read it.
    std::unique_ptr<QSettings> reopenDefaults();

    static nodwarden::ActivitySignal signal(nodwarden::SignalStrength strength, std::string name,
                                            std::optional<bool> processPresent = true);

    TemporaryDirectory home;
    ManualClock clock;
    FakePowerSources power;
    FakeAccessibilityPlatform accessibilityPlatform;
    nodwarden::AccessibilityDetector accessibility{accessibilityPlatform};
    std::atomic<nodwarden::ThermalState> thermal{nodwarden::ThermalState::nominal};
    FakeSleepController sleep;
    FakeNotifier notifier;
    FakeLoginItemService loginItems;
    RecordingWindowPresenter windows;
    /// Connecting agents' hooks; none unless a test gives one.
    nodwarden::app::AgentHookConnecting* agentHooks = nullptr;
    std::unique_ptr<QSettings> defaults;
    std::unique_ptr<nodwarden::FileLogger> logger;
    std::filesystem::path ledgerPath;

private:
    mutable std::mutex detectionMutex_;
    std::vector<nodwarden::ActivitySignal> perApp_;
    int detectionCount_ = 0;
};

/// Makes the harnesses made during its life speak `wording`.
class UsingWording {
public:
    explicit UsingWording(const nodwarden::app::PlatformWording& wording)
        : saved_(AppModelHarness::defaultWording()) {
        AppModelHarness::defaultWording() = &wording;
    }
    ~UsingWording() { AppModelHarness::defaultWording() = saved_; }
    UsingWording(const UsingWording&) = delete;
    UsingWording& operator=(const UsingWording&) = delete;

private:
    const nodwarden::app::PlatformWording* saved_;
};

} // namespace stayloom::testing
