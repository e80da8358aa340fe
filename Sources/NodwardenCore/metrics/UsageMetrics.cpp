#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <NodwardenCore/metrics/CalendarTime.hpp>

#include <algorithm>
#include <utility>

namespace nodwarden {

namespace {

// A year the four-digit day key can show; recentDays skips days outside it.
bool isFormableYear(int year) {
    return year >= 1 && year <= 9999;
}

template <typename Value, typename Field>
Value sumOverDays(const std::map<std::string, DayBucket>& days, Field field) {
    Value total{};
    for (const auto& [key, bucket] : days) {
        total += bucket.*field;
    }
    return total;
}

template <typename Value>
std::map<std::string, Value> mergeOverDays(const std::map<std::string, DayBucket>& days,
                                           std::map<std::string, Value> DayBucket::*field) {
    std::map<std::string, Value> merged;
    for (const auto& [key, bucket] : days) {
        for (const auto& [agent, value] : bucket.*field) {
            merged[agent] += value;
        }
    }
    return merged;
}

} // namespace

std::string_view rawValue(KeepAwakeTrigger trigger) {
    switch (trigger) {
    case KeepAwakeTrigger::none:
        return "none";
    case KeepAwakeTrigger::manual:
        return "manual";
    case KeepAwakeTrigger::pluggedInUnlimited:
        return "pluggedInUnlimited";
    case KeepAwakeTrigger::activeSignal:
        return "activeSignal";
    case KeepAwakeTrigger::idleGrace:
        return "idleGrace";
    }
    return "none";
}

std::string_view rawValue(SessionCloseReason reason) {
    switch (reason) {
    case SessionCloseReason::idle:
        return "idle";
    case SessionCloseReason::interrupted:
        return "interrupted";
    case SessionCloseReason::vanished:
        return "vanished";
    }
    return "idle";
}

std::optional<KeepAwakeTrigger> keepAwakeTriggerFromRawValue(std::string_view raw) {
    for (const auto trigger :
         {KeepAwakeTrigger::none, KeepAwakeTrigger::manual, KeepAwakeTrigger::pluggedInUnlimited,
          KeepAwakeTrigger::activeSignal, KeepAwakeTrigger::idleGrace}) {
        if (rawValue(trigger) == raw) {
            return trigger;
        }
    }
    return std::nullopt;
}

std::optional<SessionCloseReason> sessionCloseReasonFromRawValue(std::string_view raw) {
    for (const auto reason : {SessionCloseReason::idle, SessionCloseReason::interrupted,
                              SessionCloseReason::vanished}) {
        if (rawValue(reason) == raw) {
            return reason;
        }
    }
    return std::nullopt;
}

LastRunSummary::LastRunSummary(std::optional<std::string> agentDisplayName, Date endedAt,
                               double workedSeconds, double protectedSeconds,
                               double keptAwakeSeconds, bool finishedNormally)
    : agentDisplayName_(std::move(agentDisplayName)), endedAt_(endedAt),
      workedSeconds_(workedSeconds), protectedSeconds_(protectedSeconds),
      keptAwakeSeconds_(keptAwakeSeconds), finishedNormally_(finishedNormally) {}

UsageMetrics::UsageMetrics(Date installDate) : installDate_(installDate) {}

std::string UsageMetrics::dayKey(Date date) {
    return CalendarTime::localDayKey(date);
}

double UsageMetrics::totalProtectedSeconds() const {
    return sumOverDays<double>(days_, &DayBucket::protectedSeconds);
}

double UsageMetrics::totalKeptAwakeSeconds() const {
    return sumOverDays<double>(days_, &DayBucket::keptAwakeSeconds);
}

double UsageMetrics::totalManualSeconds() const {
    return sumOverDays<double>(days_, &DayBucket::manualSeconds);
}

double UsageMetrics::totalPluggedInUnlimitedSeconds() const {
    return sumOverDays<double>(days_, &DayBucket::pluggedInUnlimitedSeconds);
}

std::int64_t UsageMetrics::totalSessionsSaved() const {
    return sumOverDays<std::int64_t>(days_, &DayBucket::sessionsSaved);
}

std::int64_t UsageMetrics::totalWorkSessions() const {
    return sumOverDays<std::int64_t>(days_, &DayBucket::totalSessions);
}

std::int64_t UsageMetrics::activeDays() const {
    std::int64_t count = 0;
    for (const auto& [key, bucket] : days_) {
        if (bucket.totalSessions > 0 || bucket.protectedSeconds > 0 ||
            bucket.keptAwakeSeconds > 0) {
            ++count;
        }
    }
    return count;
}

std::optional<double> UsageMetrics::utilization() const {
    const std::int64_t total = totalWorkSessions();
    if (total <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(totalSessionsSaved()) / static_cast<double>(total);
}

std::map<std::string, double> UsageMetrics::protectedSecondsByAgent() const {
    return mergeOverDays(days_, &DayBucket::protectedSecondsByAgent);
}

std::map<std::string, std::int64_t> UsageMetrics::sessionsByAgent() const {
    return mergeOverDays(days_, &DayBucket::sessionsByAgent);
}

std::vector<RecentDay> UsageMetrics::recentDays(int count, Date endingAt) const {
    std::vector<RecentDay> recent;
    if (count <= 0) {
        return recent;
    }
    // The same time of day a whole number of calendar days earlier always falls on the calendar
    // date that many days before, so the walk happens on dates alone.
    const CivilDate lastDay = CalendarTime::localDate(endingAt);
    const std::int64_t firstOffset =
        std::min<std::int64_t>(count - 1, CalendarTime::daysBetween(CivilDate{1, 1, 1}, lastDay));
    recent.reserve(static_cast<std::size_t>(std::max<std::int64_t>(firstOffset + 1, 0)));
    for (std::int64_t offset = firstOffset; offset >= 0; --offset) {
        const CivilDate day = CalendarTime::addingDays(lastDay, -offset);
        if (!isFormableYear(day.year)) {
            continue;
        }
        std::string key = CalendarTime::dayKey(day);
        const auto found = days_.find(key);
        recent.push_back(
            RecentDay{std::move(key), found == days_.end() ? DayBucket{} : found->second});
    }
    return recent;
}

} // namespace nodwarden
