#include <NodwardenApp/model/UsageStatistics.hpp>

#include <NodwardenApp/model/QueuedDelivery.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace nodwarden::app {

namespace {

KeepAwakeTrigger triggerRung(GuardStatus status, AppMode mode) {
    switch (status) {
    case GuardStatus::off:
    case GuardStatus::watching:
    case GuardStatus::batterySafety:
    case GuardStatus::thermalSafety:
        return KeepAwakeTrigger::none;
    case GuardStatus::keepingAwake:
        return mode == AppMode::manualKeepAwake ? KeepAwakeTrigger::manual
                                                : KeepAwakeTrigger::activeSignal;
    case GuardStatus::idleGrace:
        return KeepAwakeTrigger::idleGrace;
    case GuardStatus::pluggedInUnlimited:
        return KeepAwakeTrigger::pluggedInUnlimited;
    }
    return KeepAwakeTrigger::none;
}

} // namespace

UsageStatistics::UsageStatistics(QSettings& defaults, FileLogger& logger,
                                 std::optional<std::filesystem::path> statisticsPath,
                                 std::filesystem::path runLedgerPath, Date now, QObject* parent)
    : QObject(parent), defaults_(defaults), logger_(logger),
      runLedgerPath_(std::move(runLedgerPath)),
      queue_(std::make_unique<SerialQueue>("Stayloom.RunLog")) {
    if (statisticsPath) {
        file_ = std::make_shared<MetricsStore::MetricsFile>(*statisticsPath);
        metrics_ = MetricsStore::load(defaults_, *file_, now, logger_);
    } else {
        metrics_ = MetricsStore::load(defaults_, now);
    }
}

UsageStatistics::~UsageStatistics() = default;

std::optional<bool> UsageStatistics::sessionAgentAlive(const std::vector<ActivitySignal>& perApp,
                                                       bool processPresenceCurrent) {
    const std::optional<std::string>& agent = metrics_.sessionAgentID();
    if (!processPresenceCurrent || !agent) {
        return std::nullopt;
    }
    const bool present = std::any_of(perApp.begin(), perApp.end(), [&](const auto& signal) {
        return signal.appName == agent && signal.processPresent.value_or(false);
    });
    if (present) {
        absentStreak_.reset();
        return true;
    }
    if (absentStreak_ && absentStreak_->agent == *agent) {
        ++absentStreak_->ticks;
    } else {
        absentStreak_ = AbsentStreak{*agent, 1};
    }
    // One pass that misses the agent is not yet its end.
    if (absentStreak_->ticks < 2) {
        return std::nullopt;
    }
    return false;
}

std::optional<double> UsageStatistics::runWorkedSeconds(Date now) const {
    if (const auto start = metrics_.sessionStartedAt()) {
        return std::max(0.0, metrics_.lastActiveSignalAt().value_or(*start) - *start);
    }
    // Closed in this very tick: the run is the one the ledger line was just written for.
    if (const auto& run = metrics_.lastRun(); run && run->endedAt() == now) {
        return run->workedSeconds();
    }
    return std::nullopt;
}

void UsageStatistics::record(const GuardDecision& effective, AppMode mode, LidState lid,
                             const ActivitySignal& signal, double idleGraceSeconds,
                             std::optional<bool> sessionProcessAlive, Date now) {
    // The tick changes the account in place: a copy of years of days on every tick would cost
    // the main thread milliseconds. Only the open session is kept aside, for its ledger line.
    const UsageMetrics before = metrics_.withoutDays();
    std::optional<UsageMetrics> openSession;
    if (metrics_.sessionStartedAt()) {
        openSession = before;
    }
    const double longestBefore = metrics_.longestProtectedRunSeconds();
    const std::string today = UsageMetrics::dayKey(now);
    const bool hadToday = metrics_.days().contains(today);
    const bool daysChanged = metrics_.record(
        effective.shouldPreventSleep, triggerRung(effective.status, mode), signal.strength, lid,
        signal.appName, idleGraceSeconds, sessionProcessAlive, now);
    if (daysChanged || metrics_.longestProtectedRunSeconds() != longestBefore) {
        emit shownFiguresChanged();
    }

    const auto closeReason = metrics_.lastCloseReason();
    if (openSession && !metrics_.sessionStartedAt() && closeReason) {
        appendRunLog(UsageMetrics::runLogLine(*openSession, *closeReason, now, sessionProcessAlive,
                                              std::nullopt, lid));
    }

    // A day's first tick opens its entry before anything is counted in it. The empty entry alone
    // waits for the next save or the quit: saved at once, it would write an idle machine's disk
    // every day and spend the keep-awake hour's one save on nothing, holding the first counts
    // of a keep-awake that follows unsaved for an hour. Beside it, only counts are worth a
    // write: a tick that moved nothing but its own time leaves the disk alone.
    const auto opened = metrics_.days().find(today);
    const bool onlyOpenedToday =
        !hadToday && opened != metrics_.days().end() && opened->second == DayBucket{};
    unsaved_ = unsaved_ || (daysChanged && !onlyOpenedToday) ||
               !metrics_.sameBesideDaysAndLastTick(before);
    if (!unsaved_) {
        return;
    }
    const double interval =
        effective.shouldPreventSleep ? saveWhileAwakeIntervalSeconds : saveIntervalSeconds;
    // A clock that stepped backwards must not hold saves off until it catches up again.
    if (lastSaveAt_) {
        const double sinceSave = now - *lastSaveAt_;
        if (sinceSave >= 0 && sinceSave < interval) {
            return;
        }
    }
    lastSaveAt_ = now;
    saveInBackground();
}

void UsageStatistics::saveInBackground() {
    unsaved_ = false;
    if (!file_) {
        MetricsStore::save(defaults_, metrics_, logger_);
        return;
    }
    auto encoded = MetricsStore::encode(metrics_);
    if (!encoded) {
        return;
    }
    // The write and its sync wait on the disk; the defaults are the main thread's.
    detail::runThenDeliver(
        *queue_, *this,
        [file = file_, encoded = *encoded, logger = &logger_] {
            return MetricsStore::write(*file, encoded, *logger);
        },
        [](const std::exception&) { return false; },
        [encoded = *encoded](UsageStatistics& statistics, bool written) {
            MetricsStore::settle(statistics.defaults_, encoded, written, statistics.logger_);
        });
}

void UsageStatistics::saveNow() {
    unsaved_ = false;
    if (file_) {
        queue_->drain(); // a write still queued would race this one
        MetricsStore::save(defaults_, *file_, metrics_, logger_);
    } else {
        MetricsStore::save(defaults_, metrics_, logger_);
    }
}

void UsageStatistics::drain() {
    queue_->drain();
}

void UsageStatistics::reset() {
    UsageMetrics fresh(metrics_.installDate());
    const bool shownChanged =
        fresh.days() != metrics_.days() ||
        fresh.longestProtectedRunSeconds() != metrics_.longestProtectedRunSeconds();
    metrics_ = std::move(fresh);
    if (shownChanged) {
        emit shownFiguresChanged();
    }
    lastSaveAt_.reset();
    saveNow();
}

void UsageStatistics::appendRunLog(std::string line) {
    queue_->async([path = runLedgerPath_, line = std::move(line), logger = &logger_] {
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        if (error) {
            logger->log("Run ledger append failed: " + error.message());
            return;
        }
        std::ofstream file(path, std::ios::binary | std::ios::app);
        if (!file) {
            logger->log(std::string("Run ledger append failed: ") + std::strerror(errno));
            return;
        }
        file << line << '\n';
        file.flush();
        if (!file) {
            logger->log(std::string("Run ledger append failed: ") + std::strerror(errno));
        }
    });
}

} // namespace nodwarden::app
