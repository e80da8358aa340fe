#include "AppSupport/AppModelHarness.hpp"

#include <NodwardenApp/platform/LinuxPlatform.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>

namespace stayloom::testing {

using nodwarden::app::AppModel;
using nodwarden::app::SleepCommands;

AppModelHarness::AppModelHarness()
    : defaults(std::make_unique<QSettings>(
          QString::fromStdString((home.path() / "defaults.ini").string()), QSettings::IniFormat)),
      logger(std::make_unique<nodwarden::FileLogger>(home.path() / "logs" / "Nodwarden.log")),
      ledgerPath(home.path() / "logs" / "Stayloom-runs.log") {
    accessibilityPlatform.setTrusted(true);
}

void AppModelHarness::acceptTermsAndOnboarding() {
    defaults->setValue(QString::fromUtf8(nodwarden::StoredKeys::acceptedLegalVersion.data()),
                       wording->legalVersion);
    defaults->setValue(QString::fromUtf8(nodwarden::StoredKeys::hasCompletedOnboarding.data()),
                       true);
}

std::unique_ptr<nodwarden::app::AppModel>
AppModelHarness::startModel(std::optional<nodwarden::AppMode> mode) {
    acceptTermsAndOnboarding();
    if (mode) {
        storeMode(*mode);
    }
    auto model = makeModel();
    model->start();
    return model;
}

nodwarden::app::AppEnvironment AppModelHarness::environment() {
    nodwarden::app::AppEnvironment environment;
    environment.wording = wording;
    environment.clock = clock.function();
    environment.power = &power;
    environment.lid = &power;
    environment.detectPerApp = [this](const nodwarden::GuardSettings&,
                                      const nodwarden::PowerSnapshot&, nodwarden::Date) {
        std::lock_guard lock(detectionMutex_);
        ++detectionCount_;
        return perApp_;
    };
    environment.accessibility = &accessibility;
    environment.thermalState = [this] { return thermal.load(); };
    environment.processExists = nodwarden::app::processExists;
    environment.sleepController = &sleep;
    environment.loginItems = &loginItems;
    environment.windows = &windows;
    environment.notifier = &notifier;
    environment.agentHooks = agentHooks;
    environment.defaults = defaults.get();
    environment.logger = logger.get();
    environment.runLedgerPath = ledgerPath;
    return environment;
}

const nodwarden::app::PlatformWording*& AppModelHarness::defaultWording() {
    static const nodwarden::app::PlatformWording* chosen =
        &nodwarden::app::PlatformWording::linuxDesktop();
    return chosen;
}

void AppModelHarness::tickAndSettle(AppModel& model, double detectionSeconds) {
    model.tick();
    clock.advance(detectionSeconds);
    settle(model);
}

void AppModelHarness::settle(AppModel& model) {
    for (int round = 0; round < 4; ++round) {
        model.waitForBackgroundWork();
    }
}

void AppModelHarness::runSleepCommand(AppModel& model, bool enabled) {
    SleepCommands& sleep = model.sleepCommands();
    sleep.run(enabled, model.settings(), sleep.why());
}

bool AppModelHarness::loggedLine(const std::string& message) {
    const auto lines = logged();
    return std::find(lines.begin(), lines.end(), message) != lines.end();
}

std::unique_ptr<QSettings> AppModelHarness::reopenDefaults() {
    defaults->sync();
    return std::make_unique<QSettings>(
        QString::fromStdString((home.path() / "defaults.ini").string()), QSettings::IniFormat);
}

nodwarden::ActivitySignal AppModelHarness::signal(nodwarden::SignalStrength strength,
                                                  std::string name,
                                                  std::optional<bool> processPresent) {
    nodwarden::ActivitySignal result;
    result.strength = strength;
    result.appName = std::move(name);
    result.reason = "test reason";
    result.processPresent = processPresent;
    return result;
}

} // namespace stayloom::testing
