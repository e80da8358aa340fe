#include <NodwardenApp/model/WorkNotifier.hpp>

#include <algorithm>
#include <cmath>
#include <utility>

namespace nodwarden::app {

namespace {

bool holds(GuardStatus status) {
    return status == GuardStatus::keepingAwake || status == GuardStatus::idleGrace ||
           status == GuardStatus::pluggedInUnlimited;
}

/// "The battery is at 5%" followed by `atLevel`, or `unread` when there is no reading.
std::string batterySentence(const PowerSnapshot& power, const std::string& atLevel,
                            const std::string& unread) {
    return power.batteryPercent
               ? "The battery is at " + std::to_string(*power.batteryPercent) + "%" + atLevel
               : unread;
}

} // namespace

std::string WorkNotifier::describeDuration(double seconds) {
    const auto minutes = static_cast<long long>(std::floor(std::max(seconds, 0.0) / 60.0));
    if (minutes < 1) {
        return "less than a minute";
    }
    if (minutes < 60) {
        return std::to_string(minutes) + " min";
    }
    const auto rest = minutes % 60;
    return std::to_string(minutes / 60) + " h" +
           (rest == 0 ? std::string() : " " + std::to_string(rest) + " min");
}

void WorkNotifier::observe(AppMode mode, const GuardDecision& decision, const PowerSnapshot& power,
                           const GuardSettings& settings, Date now) {
    // Modes and settings change only by the user's hand (or their command line); which notices
    // they want is no change to what the machine does.
    GuardSettings compared = settings;
    compared.notifications = {};
    const bool modeChanged = lastMode_ && *lastMode_ != mode;
    const bool settingsChanged = lastSettings_ && *lastSettings_ != compared;
    const bool userChange = modeChanged || settingsChanged;
    const std::optional<GuardStatus> previous = lastStatus_;
    lastMode_ = mode;
    lastSettings_ = std::move(compared);
    lastStatus_ = decision.status;

    const bool warningRose = decision.isBatteryWarning && !lastBatteryWarning_;
    lastBatteryWarning_ = decision.isBatteryWarning;

    if (holds(decision.status)) {
        if (!holdSince_ || modeChanged) {
            // A hold the user started by a switch and left to run is still worth its news.
            holdSince_ = now;
            holdAgent_.reset();
            holdTouchedByUser_ = false;
        } else if (settingsChanged) {
            // Whoever changes the settings during a hold is at the machine and sees it end.
            holdTouchedByUser_ = true;
        }
        if (decision.detectedAppName && !decision.detectedAppName->empty()) {
            holdAgent_ = decision.detectedAppName;
        }
    } else if (holdSince_) {
        if (!userChange && previous && holds(*previous) &&
            (!holdTouchedByUser_ || decision.status == GuardStatus::batterySafety ||
             decision.status == GuardStatus::thermalSafety)) {
            announceEnd(decision.status, power, settings, now);
        }
        holdSince_.reset();
        holdAgent_.reset();
    }

    if (warningRose && !userChange && settings.notifications.batteryWarning) {
        const int cutoff = settings.profileFor(power).batteryCutoffPercent;
        out_.show(Notice{"Battery low", batterySentence(power, ".", "The battery is low.") +
                                            " At " + std::to_string(cutoff) +
                                            "% the computer may sleep; plug it in to keep the "
                                            "agents working."});
    }
}

void WorkNotifier::announceEnd(GuardStatus status, const PowerSnapshot& power,
                               const GuardSettings& settings, Date now) {
    if (status == GuardStatus::batterySafety) {
        if (settings.notifications.safety) {
            out_.show(Notice{
                "Battery low — keep-awake stopped",
                batterySentence(power, ", below the cutoff.", "The battery is below the cutoff.") +
                    " The computer may sleep again."});
        }
        return;
    }
    if (status == GuardStatus::thermalSafety) {
        if (settings.notifications.safety) {
            out_.show(Notice{"Too hot — keep-awake stopped",
                             "The computer is running hot. It may sleep again to cool down."});
        }
        return;
    }
    if (!settings.notifications.workDone) {
        return;
    }
    const std::string who = holdAgent_.value_or("The agents");
    out_.show(Notice{"Agents finished", who + " worked " + describeDuration(now - *holdSince_) +
                                            ". The computer may sleep again."});
}

void WorkNotifier::lidClosedRefused(const GuardSettings& settings) {
    if (settings.notifications.problems) {
        out_.show(Notice{"Lid-closed mode is off",
                         "Switching sleep off was refused or failed. Keep the lid open to keep "
                         "the agents working."});
    }
}

void WorkNotifier::launchAtLoginFailed(const std::string& description,
                                       const GuardSettings& settings) {
    if (settings.notifications.problems) {
        out_.show(Notice{"Launch at login failed",
                         "Stayloom could not set itself to start at login: " + description});
    }
}

} // namespace nodwarden::app
