#include <NodwardenApp/model/WorkNotifier.hpp>

#include <NodwardenApp/model/PanelTexts.hpp>

#include <QCoreApplication>

#include <cmath>
#include <utility>

namespace nodwarden::app {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("WorkNotifier", text);
}

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

void WorkNotifier::observe(AppMode mode, const GuardDecision& decision, const PowerSnapshot& power,
                           const GuardSettings& settings, Date now,
                           std::optional<double> workedSeconds, std::optional<Date> graceEndsAt,
                           bool agentsWaiting) {
    agentsWaiting_ = agentsWaiting;
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
        if (decision.status == GuardStatus::keepingAwake) {
            // Work again: its next end is news of its own.
            workDoneAnnounced_ = false;
        }
        const bool workEnded =
            previous == GuardStatus::keepingAwake && decision.status == GuardStatus::idleGrace;
        if (workEnded && !userChange && !holdTouchedByUser_ && settings.notifications.workDone &&
            !settings.notifications.workDoneAfterGrace) {
            workDoneAnnounced_ = true;
            announceWorkDone(workedSeconds, graceEndsAt ? std::optional<double>(*graceEndsAt - now)
                                                        : std::nullopt);
        }
    } else if (holdSince_) {
        if (!userChange && previous && holds(*previous) &&
            (!holdTouchedByUser_ || decision.status == GuardStatus::batterySafety ||
             decision.status == GuardStatus::thermalSafety)) {
            announceEnd(decision.status, power, settings, workedSeconds);
        }
        holdSince_.reset();
        holdAgent_.reset();
        workDoneAnnounced_ = false;
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
                               const GuardSettings& settings, std::optional<double> workedSeconds) {
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
    if (!settings.notifications.workDone || workDoneAnnounced_) {
        return;
    }
    announceWorkDone(workedSeconds, std::nullopt);
}

void WorkNotifier::announceWorkDone(std::optional<double> workedSeconds,
                                    std::optional<double> graceLeft) {
    if (agentsWaiting_) {
        return;
    }
    const QString who = holdAgent_ ? QString::fromStdString(*holdAgent_) : tr("The agents");
    QString body =
        workedSeconds
            ? tr("%1 worked %2.")
                  .arg(who, QString::fromStdString(PanelTexts::durationWords(*workedSeconds)))
            : tr("%1 finished.").arg(who);
    body += u' ';
    body += graceLeft && *graceLeft > 0
                ? tr("The computer may sleep in %1.")
                      .arg(QString::fromStdString(PanelTexts::durationWords(std::ceil(*graceLeft))))
                : tr("The computer may sleep again.");
    out_.show(Notice{tr("Agents finished").toStdString(),
                     body.toStdString(),
                     {{sleepNowAction, tr("Sleep now").toStdString()},
                      {keepAwakeLongerAction, tr("Keep awake 30 more minutes").toStdString()}}});
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
