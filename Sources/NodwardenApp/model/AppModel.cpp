#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/CommandRunRows.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/model/WaitingNotice.hpp>
#include <NodwardenApp/model/WorkNotifier.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/LidStateProviding.hpp>
#include <NodwardenCore/detection/PowerSnapshotProviding.hpp>
#include <NodwardenCore/model/Notices.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <QCoreApplication>
#include <QSettings>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <stdexcept>

namespace nodwarden::app {

using detail::assignIfChanged;

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
    : QObject(parent), environment_(std::move(environment)) {
    if (!environment_.clock) {
        environment_.clock = systemNow;
    }
    if (environment_.logger == nullptr) {
        environment_.logger = &FileLogger::shared();
    }
    requireServices();
    if (environment_.notifier != nullptr) {
        notifier_ = std::make_unique<WorkNotifier>(*environment_.notifier);
        waitingNotice_ = std::make_unique<WaitingNotice>(*environment_.notifier);
        // Pressed on the desktop's thread; acted on here, on the main thread.
        environment_.notifier->setActionHandler([this](const std::string& key) {
            QMetaObject::invokeMethod(
                this, [this, key] { noticeActionPressed(key); }, Qt::QueuedConnection);
        });
    }
    published_ = std::make_unique<PublishedStatus>([this] { return now(); });
    published_->setBatteryDescription(tr("Battery unknown"));
    published_->setLidDescription(tr("Unknown"));
    published_->setStatusReason(tr("Starting"), QStringLiteral("Starting"));

    sleep_ = std::make_unique<SleepCommands>(
        *environment_.sleepController, *environment_.logger, *wording().sleepLog,
        [this] { return now(); }, [this]() -> const GuardSettings& { return settings_; });
    detection_ = std::make_unique<DetectionScheduler>(environment_, logger());
    commandRuns_ = std::make_unique<CommandRunRows>(environment_.processExists);
    timedKeepAwake_ = std::make_unique<TimedKeepAwake>();
    launchAtLogin_ = std::make_unique<LaunchAtLogin>(*environment_.loginItems,
                                                     *environment_.windows, wording(), logger());
    firstRun_ = std::make_unique<FirstRunFlow>(*environment_.defaults, *environment_.windows,
                                               wording(), logger(), [this] { return now(); });
    mode_ = SettingsStore::loadMode(defaults());
    settings_ = SettingsStore::loadSettings(defaults());
    statistics_ = std::make_unique<UsageStatistics>(
        defaults(), logger(), environment_.statisticsPath, environment_.runLedgerPath, now());
    connectParts();

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
    if (environment_.notifier != nullptr) {
        environment_.notifier->setActionHandler({});
    }
    // Quit never waits on a detection pass that does not end.
    detection_->stop();
    // Queued jobs still run (a sleep command is never cut off half-way); their results find the
    // model gone and are dropped.
    sleep_.reset();
    statistics_.reset();
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

std::vector<std::string> AppModel::desktopApplicationIDs(const std::string& bundleID) const {
    return environment_.desktopApplicationIDs ? environment_.desktopApplicationIDs(bundleID)
                                              : std::vector<std::string>{};
}

// MARK: - Lifecycle

void AppModel::start() {
    if (timer_ != nullptr) {
        return;
    }
    log("Stayloom started");
    firstRun_->begin();
    reconcileLaunchAtLogin();
    if (environment_.startUpdater) {
        environment_.startUpdater();
    }

    sleep_->queueLaunchRepair();

    // The passes keep the beat on their own queue and each result is a tick; the timer ticks
    // only while results do not come (the terms not yet accepted, a pass that overran).
    detection_->repeatEvery(environment_.tickInterval);
    timer_ = new QTimer(this);
    timer_->setInterval(milliseconds(environment_.tickInterval));
    connect(timer_, &QTimer::timeout, this, &AppModel::tick);
    timer_->start();
    QTimer::singleShot(milliseconds(environment_.firstTickDelay), this, &AppModel::tick);
}

void AppModel::postponeTickTimer() {
    // A pass's result is the tick: the timer stands in only once a whole tick passes without one.
    if (timer_ != nullptr) {
        timer_->start(milliseconds(2 * environment_.tickInterval));
    }
}

bool AppModel::tickDuties() {
    if (const std::optional<AppMode> after = timedKeepAwake_->takeDue(now())) {
        changeMode(*after);
        return false; // the mode change ticked
    }
    sleep_->checkWatchdog(now());

    if (firstRun_->needsLegalAcceptance()) {
        published_->setStatusReason(tr(legalPendingReason), QString::fromUtf8(legalPendingReason));
        return false;
    }
    return true;
}

void AppModel::tick() {
    if (!tickDuties()) {
        return;
    }

    // A pass that overran leaves what the last one saw of the agents no longer current:
    // decisions go on without them until a pass ends again.
    if (detection_->checkOverrun() && lastInputs_) {
        lastInputs_->perApp.clear();
    }
    // The accessibility trust arrives with each detection pass: reading it may wait on the
    // session bus, which the main thread must never do.
    if (lastInputs_) {
        const DetectionInputs& inputs = *lastInputs_;
        evaluateAndApply(inputs.power, inputs.lid, inputs.perApp, false);
    }

    if (!detection_->inFlight()) {
        detection_->queuePass(settings_);
    }
}

// MARK: - Sleep commands

void AppModel::noticeActionPressed(const std::string& key) {
    if (key == WorkNotifier::keepAwakeLongerAction) {
        keepAwakeFor(WorkNotifier::keepAwakeLongerSeconds);
    } else if (key == WorkNotifier::sleepNowAction) {
        sleepNow();
    }
}

void AppModel::sleepNow() {
    // The grace is over by the user's word: the next tick must not hold the computer again.
    stateMachine_.markFinished(now(), largestIdleGrace());
    log("Sleep now asked for from a notification");
    sleep_->requestSleepNow();
}

void AppModel::emergencyRestore() {
    timedKeepAwake_->clear();
    changeMode(AppMode::off);
    log("Emergency restore completed from menu");
    sleep_->emergencyRestore();
}

void AppModel::restoreStaleSleepBlock() {
    sleep_->restoreStaleBlock();
}

void AppModel::applicationWillTerminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    if (timer_ != nullptr) {
        timer_->stop();
    }
    detection_->repeatEvery(0);
    log("Application terminating");
    statistics_->saveNow();
    defaults().sync();
    if (settings_.restoreNormalSleepOnQuit) {
        sleep_->restoreAtQuit();
    }
    logger().flush();
}

void AppModel::quit() {
    QCoreApplication::quit();
}

void AppModel::windowWillClose(AppWindow window) {
    firstRun_->windowWillClose(window);
}

void AppModel::waitForBackgroundWork() {
    sleep_->waitForCommands();
    detection_->drain();
    statistics_->drain();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

// MARK: - Mode and settings

void AppModel::setMode(AppMode mode) {
    timedKeepAwake_->clear();
    changeMode(mode);
}

void AppModel::changeMode(AppMode mode) {
    assignIfChanged(mode_, mode, [this] { emit modeChanged(); });
    SettingsStore::saveMode(defaults(), mode);
    stateMachine_.reset();
    sleep_->forgetSleepRequest();
    tick();
}

void AppModel::setSettings(const GuardSettings& settings) {
    assignIfChanged(settings_, settings, [this] { emit settingsChanged(); });
    SettingsStore::saveSettings(defaults(), settings, logger());
    detection_->follow(settings_);
}

void AppModel::commitSettings(const GuardSettings& settings) {
    const bool lidClosedWasOn = settings_.keepAwakeWithLidClosed;
    setSettings(settings);
    if (!lidClosedWasOn && settings.keepAwakeWithLidClosed) {
        sleep_->lidClosedSwitchedOn(settings_, sleep_->why());
    }
    tick();
}

void AppModel::setSelectedSettingsTab(SettingsTab tab) {
    assignIfChanged(selectedSettingsTab_, tab, [this] { emit selectedSettingsTabChanged(); });
}

#if defined(STAYLOOM_DEBUG_SIMULATOR)
void AppModel::simulateActive() {
    simulation_.start(now(), largestIdleGrace());
    log("Simulation active enabled");
    tick();
}

void AppModel::simulateFinished() {
    simulation_.stop();
    stateMachine_.markFinished(now(), largestIdleGrace());
    log("Simulation finished enabled");
    tick();
}
#endif

void AppModel::resetMetrics() {
    statistics_->reset();
    log("Stats reset from Settings");
}

} // namespace nodwarden::app
