#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/model/QueuedDelivery.hpp>
#include <NodwardenApp/model/WindowPresenter.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>

#include <algorithm>
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

std::optional<double> AppModel::runWorkedSeconds() const {
    if (const auto start = metrics_.sessionStartedAt()) {
        return std::max(0.0, metrics_.lastActiveSignalAt().value_or(*start) - *start);
    }
    // Closed in this very tick: the run is the one the ledger line was just written for.
    if (const auto& run = metrics_.lastRun(); run && run->endedAt() == now()) {
        return run->workedSeconds();
    }
    return std::nullopt;
}

void AppModel::recordMetrics(const GuardDecision& decision, LidState lid,
                             const ActivitySignal& signal,
                             std::optional<bool> sessionProcessAlive) {
    const Date current = now();
    const double grace = isOnACPower_ ? settings_.pluggedInProfile.idleGracePeriodSeconds
                                      : settings_.batteryProfile.idleGracePeriodSeconds;
    // The tick changes the account in place: a copy of years of days on every tick would cost
    // the main thread milliseconds. Only the open session is kept aside, for its ledger line.
    const UsageMetrics before = metrics_.withoutDays();
    std::optional<UsageMetrics> openSession;
    if (metrics_.sessionStartedAt()) {
        openSession = before;
    }
    const double longestBefore = metrics_.longestProtectedRunSeconds();
    const std::string today = UsageMetrics::dayKey(current);
    const bool hadToday = metrics_.days().contains(today);
    const bool daysChanged =
        metrics_.record(decision.shouldPreventSleep, triggerRung(decision.status), signal.strength,
                        lid, signal.appName, grace, sessionProcessAlive, current);
    if (environment_.windows->isSettingsWindowOpen() &&
        (daysChanged || metrics_.longestProtectedRunSeconds() != longestBefore)) {
        emit metricsChanged();
    }

    const auto closeReason = metrics_.lastCloseReason();
    if (openSession && !metrics_.sessionStartedAt() && closeReason) {
        appendRunLog(UsageMetrics::runLogLine(*openSession, *closeReason, current,
                                              sessionProcessAlive, std::nullopt, lid));
    }

    // Only counts are worth a write: a tick that moved nothing but its own time leaves the disk
    // alone, so an idle machine's disk may sleep.
    // A day's first tick opens its entry before anything is counted in it. The empty entry alone
    // waits for the next save or the quit: saved at once, it would write an idle machine's disk
    // every day and spend the keep-awake hour's one save on nothing, holding the first counts
    // of a keep-awake that follows unsaved for an hour.
    const auto opened = metrics_.days().find(today);
    const bool onlyOpenedToday =
        !hadToday && opened != metrics_.days().end() && opened->second == DayBucket{};
    metricsUnsaved_ = metricsUnsaved_ || (daysChanged && !onlyOpenedToday) ||
                      !metrics_.sameBesideDaysAndLastTick(before);
    if (!metricsUnsaved_) {
        return;
    }
    const double interval = decision.shouldPreventSleep ? metricsSaveWhileAwakeIntervalSeconds
                                                        : metricsSaveIntervalSeconds;
    // A clock that stepped backwards must not hold saves off until it catches up again.
    if (lastMetricsSaveAt_) {
        const double sinceSave = current - *lastMetricsSaveAt_;
        if (sinceSave >= 0 && sinceSave < interval) {
            return;
        }
    }
    lastMetricsSaveAt_ = current;
    saveMetricsInBackground();
}

void AppModel::saveMetricsInBackground() {
    metricsUnsaved_ = false;
    if (!metricsFile_) {
        saveMetrics();
        return;
    }
    auto encoded = MetricsStore::encode(metrics_);
    if (!encoded) {
        return;
    }
    // The write and its sync wait on the disk; the defaults are the main thread's.
    detail::runThenDeliver(
        *runLogQueue_, *this,
        [file = metricsFile_, encoded = *encoded, sharedLogger = environment_.logger] {
            return MetricsStore::write(*file, encoded, *sharedLogger);
        },
        [](const std::exception&) { return false; },
        [encoded = *encoded](AppModel& model, bool written) {
            MetricsStore::settle(model.defaults(), encoded, written, model.logger());
        });
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
    metricsUnsaved_ = false;
    if (metricsFile_) {
        runLogQueue_->drain(); // a write still queued would race this one

        MetricsStore::save(defaults(), *metricsFile_, metrics_, logger());
    } else {
        MetricsStore::save(defaults(), metrics_, logger());
    }
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
