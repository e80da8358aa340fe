#include <NodwardenCore/model/AgentStateMachine.hpp>

namespace nodwarden {

namespace {

/// On battery, with a known charge inside the warning band (above the cutoff). Only the battery
/// profile's thresholds apply: on mains power there is nothing to warn about.
bool isBatteryWarning(const GuardSettings& settings, const PowerSnapshot& power) {
    if (power.isOnACPower || !power.batteryPercent) {
        return false;
    }
    const int percent = *power.batteryPercent;
    return percent <= settings.batteryProfile.warningPercent &&
           percent > settings.batteryProfile.batteryCutoffPercent;
}

} // namespace

GuardDecision AgentStateMachine::evaluate(AppMode mode, const GuardSettings& settings,
                                          const PowerSnapshot& power, LidState lidState,
                                          const ActivitySignal& signal, bool isPreventingSleep,
                                          ThermalState thermalState, Date now) {
    const bool warning = isBatteryWarning(settings, power);
    const auto decide = [&](GuardStatus status, bool preventSleep, bool sleepNow, ReasonCode code,
                            std::string reason, bool batteryWarning) {
        return GuardDecision{
            status,         preventSleep, sleepNow, signal.appName, std::move(reason),
            batteryWarning, code,         {}};
    };

    if (mode == AppMode::off) {
        reset();
        return decide(GuardStatus::off, false, false, ReasonCode::modeOff, "Stayloom is off",
                      warning);
    }

    if (!power.isOnACPower && !power.batteryPercent) {
        return decide(GuardStatus::watching, false, false, ReasonCode::batteryLevelUnknown,
                      "Battery level unavailable — releasing keep-awake to protect the battery",
                      false);
    }

    if (!power.isOnACPower &&
        *power.batteryPercent <= settings.batteryProfile.batteryCutoffPercent) {
        // Only when this program is what keeps the Mac up does letting go need a push to sleep.
        if (isPreventingSleep) {
            completionSleepIssued_ = true;
        }
        return decide(GuardStatus::batterySafety, false, isPreventingSleep,
                      ReasonCode::batteryAtCutoff, "Battery is at or below cutoff", false);
    }

    const GuardPowerProfile profile = settings.profileFor(power);

    if (thermalState == ThermalState::critical) {
        // An open Mac cools once released; a closed one held awake must be put to sleep.
        const bool sleepNow = lidState == LidState::closed && isPreventingSleep;
        if (sleepNow) {
            completionSleepIssued_ = true;
        }
        return decide(
            GuardStatus::thermalSafety, false, sleepNow, ReasonCode::thermalCritical,
            "Thermal pressure is critical — releasing keep-awake so the Mac can cool down",
            warning);
    }

    if (mode == AppMode::manualKeepAwake) {
        completionSleepIssued_ = false;
        return decide(GuardStatus::keepingAwake, true, false, ReasonCode::manualKeepAwake,
                      "Manual keep-awake mode is enabled", warning);
    }

    if (mode == AppMode::pluggedInUnlimited && power.isOnACPower &&
        settings.pluggedInProfile.allowUnlimitedKeepAwake) {
        completionSleepIssued_ = false;
        return decide(GuardStatus::pluggedInUnlimited, true, false, ReasonCode::pluggedInUnlimited,
                      "AC power is connected and plugged-in unlimited mode is enabled", false);
    }

    if (isActiveWork(signal.strength)) {
        markActive(now);
        GuardDecision decision = decide(GuardStatus::keepingAwake, true, false, signal.reasonCode,
                                        signal.reason, warning);
        decision.reasonDetail = signal.reasonDetail;
        return decision;
    }

    if (lastActiveSignalAt_) {
        // A clock stepped backwards would otherwise stretch the grace by the size of the step
        // (hours, possibly, with the lid closed); counting the grace afresh from now bounds it.
        if (now < *lastActiveSignalAt_) {
            lastActiveSignalAt_ = now;
        }
        if (now - *lastActiveSignalAt_ < profile.idleGracePeriodSeconds) {
            return decide(GuardStatus::idleGrace, true, false, ReasonCode::idleGrace,
                          "No current active signal; waiting through idle grace", warning);
        }
    }

    const bool conditionsAllowSleep =
        lidState == LidState::closed ||
        (!profile.sleepOnlyIfLidClosed &&
         (profile.sleepAfterCompletion || mode == AppMode::sleepAfterCurrentWork));
    const bool sleepNow = hasSeenWork_ && !completionSleepIssued_ && conditionsAllowSleep;
    if (sleepNow) {
        completionSleepIssued_ = true;
    }
    const bool present = signal.strength == SignalStrength::presence;
    return decide(GuardStatus::watching, false, sleepNow,
                  present ? ReasonCode::agentOpenNotWorking : ReasonCode::noActiveSignal,
                  present ? "Target app is present but no active-work signal was found"
                          : "No active agent signal",
                  warning);
}

void AgentStateMachine::reset() {
    lastActiveSignalAt_.reset();
    hasSeenWork_ = false;
    completionSleepIssued_ = false;
}

void AgentStateMachine::markActive(Date at) {
    lastActiveSignalAt_ = at;
    hasSeenWork_ = true;
    completionSleepIssued_ = false;
}

void AgentStateMachine::markFinished(Date at, TimeInterval gracePeriod) {
    lastActiveSignalAt_ = at - (gracePeriod + 1.0);
    hasSeenWork_ = true;
    completionSleepIssued_ = false;
}

namespace SleepReleasePolicy {

Plan planRelease(GuardStatus status, bool lidClosedEngaged, std::optional<Date> pendingSince,
                 Date now, TimeInterval delay) {
    if (status != GuardStatus::watching || !lidClosedEngaged) {
        return Plan::releaseNow();
    }
    // A start in the future means the clock stepped back; counting from now keeps the hold to
    // `delay` instead of stretching it by the size of the step.
    const Date start = pendingSince && *pendingSince <= now ? *pendingSince : now;
    if (now - start >= delay) {
        return Plan::releaseNow();
    }
    return Plan::hold(start);
}

} // namespace SleepReleasePolicy
} // namespace nodwarden
