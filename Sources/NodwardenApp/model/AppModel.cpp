#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/model/SleepControlling.hpp>
#include <NodwardenApp/model/WorkNotifier.hpp>
#include <NodwardenCore/AccessibilityDetector.hpp>
#include <NodwardenCore/AgentResolver.hpp>
#include <NodwardenCore/FileLogger.hpp>
#include <NodwardenCore/Notices.hpp>
#include <NodwardenCore/PowerMonitor.hpp>
#include <NodwardenCore/SerialQueue.hpp>

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <stdexcept>

namespace nodwarden::app {

using detail::assignIfChanged;
using detail::deliver;

namespace {

Date systemNow() {
    using namespace std::chrono;
    return dateFromUnixTime(duration<double>(system_clock::now().time_since_epoch()).count());
}

int milliseconds(double seconds) {
    return int(std::lround(seconds * 1000));
}

} // namespace

AppModel::AppModel(AppEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)),
      detectedAppName_(QStringLiteral("None")),
      batteryDescription_(QStringLiteral("Battery unknown")),
      lidDescription_(QStringLiteral("Unknown")), statusReason_(QStringLiteral("Starting")) {
    if (!environment_.clock) {
        environment_.clock = systemNow;
    }
    if (environment_.logger == nullptr) {
        environment_.logger = &FileLogger::shared();
    }
    requireServices();
    if (environment_.notifier != nullptr) {
        notifier_ = std::make_unique<WorkNotifier>(*environment_.notifier);
    }
    trackStatusSince();

    sleepCommandQueue_ = std::make_unique<SerialQueue>("Nodwarden.SleepCommands");
    detectionQueue_ = std::make_unique<SerialQueue>("Nodwarden.Detection");
    makeDetectionLink();
    runLogQueue_ = std::make_unique<SerialQueue>("Stayloom.RunLog");

    mode_ = SettingsStore::loadMode(defaults());
    settings_ = SettingsStore::loadSettings(defaults());
    if (environment_.statisticsPath) {
        metricsFile_.emplace(*environment_.statisticsPath);
        metrics_ = MetricsStore::load(defaults(), *metricsFile_, now(), logger());
    } else {
        metrics_ = MetricsStore::load(defaults(), now());
    }

    FileLogger* sharedLogger = environment_.logger;
    AgentResolver::setOnUnmatchedHostBundle(
        [sharedLogger](const std::string& hostBundle, const std::string& binary) {
            sharedLogger->log("unmatched app bundle \"" + hostBundle +
                              "\" hosts known agent binary \"" + binary + "\"");
        });

    if (auto* application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this,
                &AppModel::applicationWillTerminate);
    }
}

AppModel::~AppModel() {
    // Quit never waits on a detection pass that does not end.
    stopDetection();
    // Queued jobs still run (a sleep command is never cut off half-way); their results find the
    // model gone and are dropped.
    sleepCommandQueue_.reset();
    runLogQueue_.reset();
    AgentResolver::setOnUnmatchedHostBundle({});
}

void AppModel::requireServices() const {
    const auto require = [](bool present, const char* name) {
        if (!present) {
            throw std::invalid_argument(std::string("AppModel needs ") + name);
        }
    };
    require(environment_.power != nullptr, "a power snapshot provider");
    require(environment_.lid != nullptr, "a lid state provider");
    require(bool(environment_.detectPerApp), "an activity detection");
    require(environment_.accessibility != nullptr, "an accessibility detector");
    require(environment_.sleepController != nullptr, "a sleep controller");
    require(environment_.loginItems != nullptr, "a login item service");
    require(environment_.windows != nullptr, "a window presenter");
    require(environment_.defaults != nullptr, "a defaults store");
}

Date AppModel::now() const {
    return environment_.clock();
}

void AppModel::log(const std::string& message) const {
    logger().log(message);
}

// MARK: - Lifecycle

void AppModel::start() {
    if (timer_ != nullptr) {
        return;
    }
    log("Stayloom started");
    const QVariant accepted = defaults().value(detail::qstring(Legal::acceptedVersionDefaultsKey));
    setNeedsLegalAcceptance(Legal::needsAcceptance(
        accepted.isValid() ? std::optional<std::string>(accepted.toString().toStdString())
                           : std::nullopt,
        wording().legalVersion.toStdString()));

    presentLegalAcceptanceIfNeeded();
    presentOnboardingIfNeeded();
    reconcileLaunchAtLogin();
    startUpdaterIfBundled();

    queueLaunchReconciliation();

    timer_ = new QTimer(this);
    timer_->setInterval(milliseconds(environment_.tickInterval));
    connect(timer_, &QTimer::timeout, this, &AppModel::tick);
    timer_->start();
    QTimer::singleShot(milliseconds(environment_.firstTickDelay), this, &AppModel::tick);
}

void AppModel::queueLaunchReconciliation() {
    QPointer<AppModel> guard(this);
    SleepControlling* sleep = environment_.sleepController;
    FileLogger* sharedLogger = environment_.logger;
    sleepCommandQueue_->async([guard, sleep, sharedLogger] {
        if (guard.isNull()) {
            return;
        }
        bool cleared = true;
        bool stuckOn = false;
        try {
            sleep->reconcileOrphanedCaffeinate();
            cleared = sleep->reconcileStuckDisableSleep();
            stuckOn = sleep->isSystemSleepDisabled();
        } catch (const std::exception& error) {
            sharedLogger->log(std::string("Launch reconcile failed: ") + error.what());
            cleared = false;
        }
        deliver(guard, [cleared, stuckOn](AppModel& model) {
            if (!cleared) {
                model.setStaleSleepBlockDetected(true);
                model.log("Launch reconcile could not confirm stuck disablesleep cleared — "
                          "surfacing stale-block banner (REVIEW #2)");
            }
            if (stuckOn) {
                if (model.settings_.keepAwakeWithLidClosed) {
                    model.controller().adoptDisableSleepEngaged();
                    model.log("Adopted stale pmset disablesleep at launch (lid-closed on); normal "
                              "release/quit will clear it");
                } else {
                    model.setStaleSleepBlockDetected(true);
                    model.log("Stale pmset disablesleep detected at launch (lid-closed off) — "
                              "surfacing restore banner");
                }
            }
        });
    });
}

void AppModel::tick() {
    if (endTimedKeepAwakeIfDue()) {
        return; // the mode change ticked
    }
    const Date current = now();
    // A start in the future means the clock stepped back; counting from now keeps the watchdog
    // at its delay instead of stretching it by the size of the step.
    if (sleepCommandInFlightSince_ && *sleepCommandInFlightSince_ > current) {
        sleepCommandInFlightSince_ = current;
    }
    if (sleepCommandInFlight_ && sleepCommandInFlightSince_ &&
        current - *sleepCommandInFlightSince_ > sleepCommandWatchdogSeconds) {
        const auto elapsed = static_cast<long long>(current - *sleepCommandInFlightSince_);
        log("WATCHDOG: sleep command in flight for " + std::to_string(elapsed) +
            "s — sleep queue looks wedged; resetting the in-flight guard so keep-awake commands "
            "are no longer dropped");
        sleepCommandInFlightSince_.reset();
        setSleepCommandInFlight(false);
    }

    if (needsLegalAcceptance_) {
        setStatusReason(QString::fromUtf8(legalPendingReason));
        return;
    }

    watchDetectionPass();
    // The accessibility trust arrives with each detection pass: reading it may wait on the
    // session bus, which the main thread must never do.
    if (lastInputs_) {
        const Inputs& inputs = *lastInputs_;
        evaluateAndApply(inputs.power, inputs.lid, inputs.perApp, false);
    }

    if (!detectionInFlight_) {
        queueDetectionPass();
    }
}

// MARK: - Sleep commands

void AppModel::runSleepCommand(bool enabled) {
    if (sleepCommandInFlight_) {
        return;
    }
    const bool allowLidClosed = enabled && settings_.keepAwakeWithLidClosed && !lidClosedDeclined_;
    const bool letDisplaySleep = settings_.letDisplaySleep;
    const std::string why = keepAwakeWhy_;
    sleepCommandInFlightSince_ = now();
    setSleepCommandInFlight(true);

    QPointer<AppModel> guard(this);
    SleepControlling* sleep = environment_.sleepController;
    FileLogger* sharedLogger = environment_.logger;
    sleepCommandQueue_->async([guard, sleep, sharedLogger, enabled, allowLidClosed, letDisplaySleep,
                               why] {
        if (guard.isNull()) {
            return;
        }
        bool ok = true;
        try {
            sleep->setKeepAwakeReason(why);
            ok = sleep->setSleepPrevention(enabled, allowLidClosed, letDisplaySleep);
        } catch (const std::exception& error) {
            sharedLogger->log(std::string("Sleep command failed: ") + error.what());
            // A failed release cannot have confirmed the switch back on; a failed lid-closed
            // request counts as declined, so it is not retried with a prompt on every tick.
            ok = enabled && !allowLidClosed;
        }
        deliver(guard, [enabled, ok](AppModel& model) { model.finishSleepCommand(enabled, ok); });
    });
}

void AppModel::finishSleepCommand(bool enabled, bool ok) {
    publishSleepControllerState();
    sleepCommandInFlightSince_.reset();
    setSleepCommandInFlight(false);
    if (enabled && !ok) {
        setLidClosedDeclined(true);
        log("Lid-closed admin prompt declined — showing downgrade warning");
        if (notifier_) {
            notifier_->lidClosedRefused(settings_);
        }
    }
    if (!enabled && !ok) {
        setStaleSleepBlockDetected(true);
        log("Sleep restore did not confirm disablesleep cleared — surfacing stale-block banner "
            "(REVIEW #18)");
    }
}

void AppModel::runSleepNowSequence() {
    if (sleepCommandInFlight_) {
        sleepRequestIssued_ = false;
        return;
    }
    sleepCommandInFlightSince_ = now();
    setSleepCommandInFlight(true);

    QPointer<AppModel> guard(this);
    SleepControlling* sleep = environment_.sleepController;
    FileLogger* sharedLogger = environment_.logger;
    sleepCommandQueue_->async([guard, sleep, sharedLogger] {
        if (guard.isNull()) {
            return;
        }
        bool ok = false;
        try {
            ok = sleep->restoreNormalSleep();
            sleep->sleepNow();
        } catch (const std::exception& error) {
            sharedLogger->log(std::string("Sleep-now sequence failed: ") + error.what());
        }
        deliver(guard, [ok](AppModel& model) { model.finishSleepNowSequence(ok); });
    });
}

void AppModel::finishSleepNowSequence(bool ok) {
    publishSleepControllerState();
    sleepCommandInFlightSince_.reset();
    setSleepCommandInFlight(false);
    if (!ok) {
        setStaleSleepBlockDetected(true);
        log("Completion/battery sleep could not clear disablesleep — surfacing stale-block banner "
            "(REVIEW #18)");
    }
}

void AppModel::publishSleepControllerState() {
    const bool enabled = controller().isSleepPreventionEnabled();
    if (enabled != sleepPreventionEnabled_) {
        sleepPreventionEnabled_ = enabled;
        assignIfChanged(guardingSince_, enabled ? std::optional<Date>(now()) : std::nullopt,
                        [this] { emit guardingSinceChanged(); });
        emit sleepPreventionEnabledChanged();
    }
    assignIfChanged(lidClosedProtectionEngaged_, controller().isLidClosedProtectionEngaged(),
                    [this] { emit lidClosedProtectionEngagedChanged(); });
}

void AppModel::emergencyRestore() {
    clearTimedKeepAwake();
    changeMode(AppMode::off);
    log("Emergency restore completed from menu");
    queueSleepRestore("Emergency restore failed: ", [](SleepControlling& sleep) {
        if (sleep.isSystemSleepDisabled()) {
            sleep.emergencyRestore();
        } else {
            sleep.restoreNormalSleep();
        }
    });
}

void AppModel::restoreStaleSleepBlock() {
    log("Restoring stale disablesleep left by a previous run");
    queueSleepRestore("Stale-block restore failed: ",
                      [](SleepControlling& sleep) { sleep.emergencyRestore(); });
}

void AppModel::queueSleepRestore(std::string failurePrefix,
                                 std::function<void(SleepControlling&)> restore) {
    QPointer<AppModel> guard(this);
    SleepControlling* sleep = environment_.sleepController;
    FileLogger* sharedLogger = environment_.logger;
    sleepCommandQueue_->async([guard, sleep, sharedLogger, failurePrefix = std::move(failurePrefix),
                               restore = std::move(restore)] {
        if (guard.isNull()) {
            return;
        }
        // The banner follows what the switch reads afterwards, whatever the restore reported.
        bool stillOff = true;
        try {
            restore(*sleep);
            stillOff = sleep->isSystemSleepDisabled();
        } catch (const std::exception& error) {
            sharedLogger->log(failurePrefix + error.what());
        }
        deliver(guard, [stillOff](AppModel& model) {
            model.publishSleepControllerState();
            model.setStaleSleepBlockDetected(stillOff);
        });
    });
}

void AppModel::applicationWillTerminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    if (timer_ != nullptr) {
        timer_->stop();
    }
    log("Application terminating");
    runLogQueue_->drain();
    saveMetrics();
    defaults().sync();
    if (settings_.restoreNormalSleepOnQuit) {
        try {
            controller().restoreNormalSleep();
        } catch (const std::exception& error) {
            log(std::string("Restore at quit failed: ") + error.what());
        }
    }
    logger().flush();
}

void AppModel::quit() {
    QCoreApplication::quit();
}

void AppModel::windowWillClose(AppWindow window) {
    // The presenter owns the windows themselves; only the first run's end is the model's concern.
    if (window == AppWindow::onboarding) {
        defaults().setValue(detail::qstring(Onboarding::completedDefaultsKey), true);
        log("Onboarding completed");
    }
}

void AppModel::waitForBackgroundWork() {
    sleepCommandQueue_->drain();
    detectionQueue_->drain();
    runLogQueue_->drain();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

// MARK: - Mode and settings

void AppModel::setMode(AppMode mode) {
    clearTimedKeepAwake();
    changeMode(mode);
}

void AppModel::changeMode(AppMode mode) {
    assignIfChanged(mode_, mode, [this] { emit modeChanged(); });
    SettingsStore::saveMode(defaults(), mode);
    stateMachine_.reset();
    sleepRequestIssued_ = false;
    tick();
}

void AppModel::setSettings(const GuardSettings& settings) {
    assignIfChanged(settings_, settings, [this] { emit settingsChanged(); });
    SettingsStore::saveSettings(defaults(), settings, logger());
}

void AppModel::commitSettings(const GuardSettings& settings) {
    const bool lidClosedWasOn = settings_.keepAwakeWithLidClosed;
    setSettings(settings);
    if (!lidClosedWasOn && settings.keepAwakeWithLidClosed) {
        setLidClosedDeclined(false);
        if (sleepPreventionEnabled_ && !lidClosedProtectionEngaged_) {
            runSleepCommand(true);
        }
    }
    tick();
}

void AppModel::setSelectedSettingsTab(SettingsTab tab) {
    assignIfChanged(selectedSettingsTab_, tab, [this] { emit selectedSettingsTabChanged(); });
}

// MARK: - Property setters

void AppModel::setSleepCommandInFlight(bool inFlight) {
    assignIfChanged(sleepCommandInFlight_, inFlight,
                    [this] { emit sleepCommandInFlightChanged(); });
}

void AppModel::setStaleSleepBlockDetected(bool detected) {
    assignIfChanged(staleSleepBlockDetected_, detected,
                    [this] { emit staleSleepBlockDetectedChanged(); });
}

void AppModel::setLidClosedDeclined(bool declined) {
    assignIfChanged(lidClosedDeclined_, declined, [this] { emit lidClosedDeclinedChanged(); });
}

void AppModel::setNeedsLegalAcceptance(bool needed) {
    assignIfChanged(needsLegalAcceptance_, needed, [this] { emit needsLegalAcceptanceChanged(); });
}

void AppModel::setStatusReason(const QString& reason) {
    assignIfChanged(statusReason_, reason, [this] { emit statusReasonChanged(); });
}

void AppModel::setLaunchAtLoginMessage(std::optional<QString> message) {
    assignIfChanged(launchAtLoginMessage_, std::move(message),
                    [this] { emit launchAtLoginMessageChanged(); });
}

} // namespace nodwarden::app
