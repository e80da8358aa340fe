#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/platform/WindowPresenter.hpp>
#include <NodwardenCore/FileLogger.hpp>
#include <NodwardenCore/SerialQueue.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace nodwarden::app {

KeepAwakeTrigger AppModel::triggerRung(GuardStatus status) const {
    switch (status) {
    case GuardStatus::off:
    case GuardStatus::watching:
    case GuardStatus::batterySafety:
    case GuardStatus::thermalSafety:
        return KeepAwakeTrigger::none;
    case GuardStatus::keepingAwake:
        return mode_ == AppMode::manualKeepAwake ? KeepAwakeTrigger::manual
                                                 : KeepAwakeTrigger::activeSignal;
    case GuardStatus::idleGrace:
        return KeepAwakeTrigger::idleGrace;
    case GuardStatus::pluggedInUnlimited:
        return KeepAwakeTrigger::pluggedInUnlimited;
    }
    return KeepAwakeTrigger::none;
}

void AppModel::recordMetrics(const GuardDecision& decision, LidState lid,
                             const ActivitySignal& signal,
                             std::optional<bool> sessionProcessAlive) {
    const UsageMetrics before = metrics_;
    const Date current = now();
    const double grace = isOnACPower_ ? settings_.pluggedInProfile.idleGracePeriodSeconds
                                      : settings_.batteryProfile.idleGracePeriodSeconds;
    UsageMetrics after = UsageMetrics::recording(
        before, decision.shouldPreventSleep, triggerRung(decision.status), signal.strength, lid,
        signal.appName, grace, sessionProcessAlive, current);
    const bool closed =
        before.sessionStartedAt() && !after.sessionStartedAt() && after.lastCloseReason();
    const auto closeReason = after.lastCloseReason();
    setMetrics(std::move(after));

    if (closed) {
        appendRunLog(UsageMetrics::runLogLine(before, *closeReason, current, sessionProcessAlive,
                                              std::nullopt, lid));
    }

    // A clock that stepped backwards must not hold saves off until it catches up again.
    if (lastMetricsSaveAt_) {
        const double sinceSave = current - *lastMetricsSaveAt_;
        if (sinceSave >= 0 && sinceSave < metricsSaveIntervalSeconds) {
            return;
        }
    }
    lastMetricsSaveAt_ = current;
    saveMetrics();
}

void AppModel::setMetrics(UsageMetrics metrics) {
    const bool announce =
        environment_.windows->isSettingsWindowOpen() &&
        (metrics.days() != metrics_.days() ||
         metrics.longestProtectedRunSeconds() != metrics_.longestProtectedRunSeconds());
    metrics_ = std::move(metrics);
    if (announce) {
        emit metricsChanged();
    }
}

void AppModel::saveMetrics() {
    MetricsStore::save(defaults(), metrics_, logger());
}

void AppModel::resetMetrics() {
    setMetrics(UsageMetrics(metrics_.installDate()));
    lastMetricsSaveAt_.reset();
    saveMetrics();
    log("Stats reset from Settings");
}

void AppModel::appendRunLog(std::string line) {
    runLogQueue_->async([path = environment_.runLedgerPath, line = std::move(line),
                         sharedLogger = environment_.logger] {
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        if (error) {
            sharedLogger->log("Run ledger append failed: " + error.message());
            return;
        }
        std::ofstream file(path, std::ios::binary | std::ios::app);
        if (!file) {
            sharedLogger->log(std::string("Run ledger append failed: ") + std::strerror(errno));
            return;
        }
        file << line << '\n';
        file.flush();
        if (!file) {
            sharedLogger->log(std::string("Run ledger append failed: ") + std::strerror(errno));
        }
    });
}

} // namespace nodwarden::app
