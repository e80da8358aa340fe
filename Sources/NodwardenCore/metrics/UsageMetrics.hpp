#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Why the Mac is held awake in a tick.
enum class KeepAwakeTrigger { none, manual, pluggedInUnlimited, activeSignal, idleGrace };

/// Why an agent work session ended.
enum class SessionCloseReason { idle, interrupted, vanished };

/// The stored text of a trigger, equal to its case name.
std::string_view rawValue(KeepAwakeTrigger trigger);
/// The stored text of a close reason, equal to its case name.
std::string_view rawValue(SessionCloseReason reason);
/// The trigger with this raw value; no value for any other text.
std::optional<KeepAwakeTrigger> keepAwakeTriggerFromRawValue(std::string_view raw);
/// The close reason with this raw value; no value for any other text.
std::optional<SessionCloseReason> sessionCloseReasonFromRawValue(std::string_view raw);

/// Counters of one calendar day.
struct DayBucket {
    /// Agent work kept awake while the lid was closed.
    double protectedSeconds = 0;
    /// Agent work kept awake with the lid open or in an unknown lid state.
    double keptAwakeSeconds = 0;
    double manualSeconds = 0;
    double pluggedInUnlimitedSeconds = 0;
    /// Sessions closed this day that needed protection.
    std::int64_t sessionsSaved = 0;
    /// All sessions closed this day.
    std::int64_t totalSessions = 0;
    std::map<std::string, double> protectedSecondsByAgent;
    /// `sessionsSaved` split by agent.
    std::map<std::string, std::int64_t> sessionsByAgent;

    bool operator==(const DayBucket&) const = default;

    /// Absent when the text is not a JSON object holding all eight keys with the right types, or
    /// any value is out of range (`UsageMetrics::maxStoredSeconds`, `maxStoredCount`).
    static std::optional<DayBucket> fromJSON(std::string_view json);
    std::string toJSON() const;
};

/// The result of the most recent closed session that kept the Mac awake at all.
class LastRunSummary {
public:
    LastRunSummary(std::optional<std::string> agentDisplayName, Date endedAt, double workedSeconds,
                   double protectedSeconds, double keptAwakeSeconds, bool finishedNormally);

    const std::optional<std::string>& agentDisplayName() const { return agentDisplayName_; }
    Date endedAt() const { return endedAt_; }
    /// From the session's first to its last active tick.
    double workedSeconds() const { return workedSeconds_; }
    double protectedSeconds() const { return protectedSeconds_; }
    double keptAwakeSeconds() const { return keptAwakeSeconds_; }
    /// The session ended because the idle grace ran out.
    bool finishedNormally() const { return finishedNormally_; }

    bool operator==(const LastRunSummary&) const = default;

    /// Absent when the text is not a JSON object with the five required keys of the right types,
    /// or any value is out of range (as for `UsageMetrics::fromJSON`).
    static std::optional<LastRunSummary> fromJSON(std::string_view json);
    std::string toJSON() const;

private:
    std::optional<std::string> agentDisplayName_;
    Date endedAt_;
    double workedSeconds_;
    double protectedSeconds_;
    double keptAwakeSeconds_;
    bool finishedNormally_;
};

/// One day of `UsageMetrics::recentDays`.
struct RecentDay {
    std::string dayKey;
    DayBucket bucket;

    bool operator==(const RecentDay&) const = default;
};

/// The statistics account: daily counters, the longest protected stretch, the open agent work
/// session and the last closed one. Changed only by `recording`.
class UsageMetrics {
public:
    /// The longest gap between two ticks that is still counted, in seconds.
    static constexpr double maxClampedElapsed = 10;
    /// A stored date is refused before 1970-01-01 (a clock that lost its time reads so)
    /// and from 2200-01-01 on.
    static constexpr Date earliestStoredDate = -978307200;
    static constexpr Date latestStoredDate = 6279811200;
    /// A stored duration (seconds) or count is refused below 0 or above these, so totals over
    /// every day stay finite and exact.
    static constexpr double maxStoredSeconds = 1e10;
    static constexpr std::int64_t maxStoredCount = 1'000'000'000;

    /// A fresh account: no days, every number 0, every flag false, every optional absent.
    explicit UsageMetrics(Date installDate);

    /// "yyyy-MM-dd" of `date` in the Gregorian calendar and the local time zone as it was when
    /// the first day key of the process was formed.
    static std::string dayKey(Date date);

    /// Absent when the text is not a metrics document: "installDate" missing, any present key of
    /// the wrong type or out of range, or a day bucket or the last run lacking one of its keys.
    static std::optional<UsageMetrics> fromJSON(std::string_view json);
    /// Compact JSON; absent optionals are left out.
    std::string toJSON() const;

    const std::map<std::string, DayBucket>& days() const { return days_; }
    /// When the system first ran on this machine.
    Date installDate() const { return installDate_; }
    double longestProtectedRunSeconds() const { return longestProtectedRunSeconds_; }
    /// The agent active at the latest extension of the longest protected stretch.
    const std::optional<std::string>& longestProtectedRunAgent() const {
        return longestProtectedRunAgent_;
    }
    /// Day key of the day the longest protected stretch was last extended.
    const std::optional<std::string>& longestProtectedRunDate() const {
        return longestProtectedRunDate_;
    }
    /// Start of the open session; absent when none is open.
    std::optional<Date> sessionStartedAt() const { return sessionStartedAt_; }
    /// The open session has counted protected time.
    bool sessionQualified() const { return sessionQualified_; }
    /// The agent the open session was opened for.
    const std::optional<std::string>& sessionAgentID() const { return sessionAgentID_; }
    /// The current unbroken stretch of protected ticks.
    double sessionRunSeconds() const { return sessionRunSeconds_; }
    std::optional<Date> lastTickAt() const { return lastTickAt_; }
    /// The last tick with a weak or strong signal.
    std::optional<Date> lastActiveSignalAt() const { return lastActiveSignalAt_; }
    /// Ticks not counted because more than `maxClampedElapsed` seconds had passed.
    std::int64_t wakeGapTicksDropped() const { return wakeGapTicksDropped_; }
    const std::optional<LastRunSummary>& lastRun() const { return lastRun_; }
    const std::optional<SessionCloseReason>& lastCloseReason() const { return lastCloseReason_; }
    double sessionProtectedSeconds() const { return sessionProtectedSeconds_; }
    double sessionKeptAwakeSeconds() const { return sessionKeptAwakeSeconds_; }

    double totalProtectedSeconds() const;
    double totalKeptAwakeSeconds() const;
    double totalManualSeconds() const;
    double totalPluggedInUnlimitedSeconds() const;
    std::int64_t totalSessionsSaved() const;
    std::int64_t totalWorkSessions() const;
    /// Days with closed sessions, protected or kept-awake time; manual and plugged-in time alone
    /// do not make a day active.
    std::int64_t activeDays() const;
    /// Saved sessions over all sessions; absent while no session has closed.
    std::optional<double> utilization() const;
    /// Protected seconds of each agent over all days.
    std::map<std::string, double> protectedSecondsByAgent() const;
    /// Saved sessions of each agent over all days.
    std::map<std::string, std::int64_t> sessionsByAgent() const;
    /// The `count` calendar days ending with the day of `endingAt`, oldest first, each with its
    /// bucket or an empty one. A count of 0 or less gives an empty list.
    std::vector<RecentDay> recentDays(int count, Date endingAt) const;

    /// The account advanced by one tick. `effectiveKeepAwake` and `triggerRung` say whether and why
    /// the machine was held awake, `agentID` names the detected agent, `sessionProcessAlive` says
    /// whether the session's agent process still runs (absent when unknown). Ticks more than
    /// `maxClampedElapsed` seconds after the previous one, at the same time or earlier are not
    /// counted and end an open session as interrupted.
    static UsageMetrics recording(UsageMetrics metrics, bool effectiveKeepAwake,
                                  KeepAwakeTrigger triggerRung, SignalStrength signalStrength,
                                  LidState lidState, const std::optional<std::string>& agentID,
                                  double idleGracePeriodSeconds,
                                  std::optional<bool> sessionProcessAlive, Date now);
    /// `recording` in place, so a tick costs nothing that grows with the account. Returns
    /// whether the tick changed `days()`.
    bool record(bool effectiveKeepAwake, KeepAwakeTrigger triggerRung,
                SignalStrength signalStrength, LidState lidState,
                const std::optional<std::string>& agentID, double idleGracePeriodSeconds,
                std::optional<bool> sessionProcessAlive, Date now);

    /// This account without its daily counters: enough for `runLogLine` of the open session,
    /// at a cost that does not grow with the account.
    UsageMetrics withoutDays() const;
    /// Whether this account holds what `other` holds besides its days and the time of its last
    /// tick: a tick that changed neither counted nothing worth storing.
    bool sameBesideDaysAndLastTick(const UsageMetrics& other) const;

    /// The run-ledger line (without line end) of the session in `session`, the account as it
    /// stood before the session was closed.
    static std::string runLogLine(const UsageMetrics& session, SessionCloseReason closeReason,
                                  Date closedAt, std::optional<bool> processAlive,
                                  std::optional<std::int64_t> sessionFileAgeSeconds,
                                  LidState lidState);

    bool operator==(const UsageMetrics&) const = default;

private:
    friend struct UsageMetricsCoding;

    /// Closes the open session, if any; returns whether there was one (and `days_` changed).
    bool closeSession(Date now, SessionCloseReason reason);
    /// Adds a tick's time to the rung that kept the machine awake; returns whether one did.
    bool countKeptAwake(DayBucket& bucket, KeepAwakeTrigger triggerRung, bool protectedTick,
                        const std::optional<std::string>& agentID, double elapsed,
                        const std::string& today);
    /// Opens, qualifies or closes the session of active work; returns whether `days_` changed.
    bool followSession(SignalStrength signalStrength, bool protectedTick,
                       const std::optional<std::string>& agentID, double idleGracePeriodSeconds,
                       std::optional<bool> sessionProcessAlive, Date now);

    std::map<std::string, DayBucket> days_;
    Date installDate_;
    double longestProtectedRunSeconds_ = 0;
    std::optional<std::string> longestProtectedRunAgent_;
    std::optional<std::string> longestProtectedRunDate_;
    std::optional<Date> sessionStartedAt_;
    bool sessionQualified_ = false;
    std::optional<std::string> sessionAgentID_;
    double sessionRunSeconds_ = 0;
    std::optional<Date> lastTickAt_;
    std::optional<Date> lastActiveSignalAt_;
    std::int64_t wakeGapTicksDropped_ = 0;
    std::optional<LastRunSummary> lastRun_;
    std::optional<SessionCloseReason> lastCloseReason_;
    double sessionProtectedSeconds_ = 0;
    double sessionKeptAwakeSeconds_ = 0;
};

} // namespace nodwarden
