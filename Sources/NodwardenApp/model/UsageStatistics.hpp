#pragma once

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenCore/metrics/UsageMetrics.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/GuardDecision.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <QObject>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace nodwarden {
class FileLogger;
class SerialQueue;
} // namespace nodwarden

namespace nodwarden::app {

/// The statistics account and the run ledger, advanced once per applied decision. Saved only
/// when a tick counted something (a tick that moved only its own time leaves the disk alone), at
/// most once a minute, once an hour while the machine is kept awake, and the rest at quit; the
/// file's write and sync and the ledger's appends run on the "Stayloom.RunLog" queue. Lives on
/// the main thread, which alone touches the defaults.
class UsageStatistics : public QObject {
    Q_OBJECT

public:
    static constexpr double saveIntervalSeconds = 60;
    static constexpr double saveWhileAwakeIntervalSeconds = 3600;

    /// Loads the account from `defaults`, or from `statisticsPath` where the platform keeps it in
    /// a file of its own; `defaults` and `logger` must outlive this.
    UsageStatistics(QSettings& defaults, FileLogger& logger,
                    std::optional<std::filesystem::path> statisticsPath,
                    std::filesystem::path runLedgerPath, Date now, QObject* parent = nullptr);
    /// Finishes the writes and appends already queued.
    ~UsageStatistics() override;
    UsageStatistics(const UsageStatistics&) = delete;
    UsageStatistics& operator=(const UsageStatistics&) = delete;

    const UsageMetrics& metrics() const { return metrics_; }
    /// Whether the open session's agent still runs, from a pass's signals: none while the pass's
    /// process view is not current or no session is open, and for its first tick without one.
    std::optional<bool> sessionAgentAlive(const std::vector<ActivitySignal>& perApp,
                                          bool processPresenceCurrent);
    /// Advances the account by one tick of `effective` (the decision as carried out) under
    /// `mode`, appends the ledger line of a session it closes, and saves as the rule above says.
    void record(const GuardDecision& effective, AppMode mode, LidState lid,
                const ActivitySignal& signal, double idleGraceSeconds,
                std::optional<bool> sessionProcessAlive, Date now);
    /// The current or just-closed run from its first active tick to its last, as the ledger
    /// writes it; none when the tick at `now` has no run.
    std::optional<double> runWorkedSeconds(Date now) const;
    /// A fresh account with the old install date, saved at once; the ledger is kept.
    void reset();
    /// Waits for the queued writes and appends, then saves what is left (the quit).
    void saveNow();
    /// Waits for the queued writes and appends.
    void drain();

    /// For tests: the last save's time, and the ticks in a row the session's agent was absent.
    std::optional<Date> lastSaveAt() const { return lastSaveAt_; }
    int sessionAgentAbsentTicks() const { return absentStreak_ ? absentStreak_->ticks : 0; }

signals:
    /// What the statistics pane shows changed: the days or the longest protected run.
    void shownFiguresChanged();

private:
    struct AbsentStreak {
        std::string agent;
        int ticks = 0;
    };

    void appendRunLog(std::string line);
    void saveInBackground();

    QSettings& defaults_;
    FileLogger& logger_;
    std::filesystem::path runLedgerPath_;
    /// Shared with the queue, where its writes run; none where the defaults hold the account.
    std::shared_ptr<MetricsStore::MetricsFile> file_;
    UsageMetrics metrics_{0};
    std::optional<Date> lastSaveAt_;
    /// Whether the account holds counts not yet saved.
    bool unsaved_ = false;
    std::optional<AbsentStreak> absentStreak_;
    std::unique_ptr<SerialQueue> queue_;
};

} // namespace nodwarden::app
