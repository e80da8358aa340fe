#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/GuardDecision.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/GuardStatus.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <optional>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Turns one moment's inputs into a `GuardDecision`, remembering just enough between evaluations
/// for the idle grace period and the one-shot sleep after work completes. Not thread-safe: the
/// owner evaluates from one thread.
class AgentStateMachine {
public:
    AgentStateMachine() = default;

    /// Decides for the moment `now`; the first matching rule wins, from "off" to "finished".
    GuardDecision evaluate(AppMode mode, const GuardSettings& settings, const PowerSnapshot& power,
                           LidState lidState, const ActivitySignal& signal, bool isPreventingSleep,
                           ThermalState thermalState, Date now);

    /// Back to the fresh state: no work seen, no sleep issued.
    void reset();
    /// Records active work at `at` and re-arms the completion sleep.
    void markActive(Date at);
    /// Records work that ended `gracePeriod` + 1 seconds before `at`, so a grace period no longer
    /// than `gracePeriod` has already run out.
    void markFinished(Date at, TimeInterval gracePeriod);

    /// When an active-work signal was last seen.
    std::optional<Date> lastActiveSignalAt() const { return lastActiveSignalAt_; }
    /// Whether active work was seen since the last reset.
    bool hasSeenWork() const { return hasSeenWork_; }
    /// Whether a sleep-now was already requested for the current stretch of work.
    bool completionSleepIssued() const { return completionSleepIssued_; }

private:
    std::optional<Date> lastActiveSignalAt_;
    bool hasSeenWork_ = false;
    bool completionSleepIssued_ = false;
};

/// Whether lid-closed protection is released at once or held a little longer once keep-awake is
/// no longer wanted.
namespace SleepReleasePolicy {

/// Hold the protection (since `pendingSince`) or release it now.
class Plan {
public:
    enum class Kind { hold, releaseNow };

    static Plan hold(Date pendingSince) { return Plan(Kind::hold, pendingSince); }
    static Plan releaseNow() { return Plan(Kind::releaseNow, std::nullopt); }

    Kind kind() const { return kind_; }
    /// When the pending release began; present exactly for `hold`.
    std::optional<Date> pendingSince() const { return pendingSince_; }

    bool operator==(const Plan&) const = default;

private:
    Plan(Kind kind, std::optional<Date> pendingSince) : kind_(kind), pendingSince_(pendingSince) {}

    Kind kind_;
    std::optional<Date> pendingSince_;
};

/// Only the ordinary no-work status with protection engaged is held, until `delay` seconds have
/// passed since the pending release began (`pendingSince`, or `now` when none or when it lies in
/// the future).
Plan planRelease(GuardStatus status, bool lidClosedEngaged, std::optional<Date> pendingSince,
                 Date now, TimeInterval delay);

} // namespace SleepReleasePolicy
} // namespace nodwarden
