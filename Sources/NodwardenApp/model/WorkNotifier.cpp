#include <NodwardenApp/model/WorkNotifier.hpp>

#include <NodwardenApp/model/PanelTexts.hpp>

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <utility>

namespace nodwarden::app {

namespace {

/// `text`, marked where it is written with its context, in the user's language.
QString shown(const char* text) {
    return QCoreApplication::translate("WorkNotifier", text);
}

bool holds(GuardStatus status) {
    return status == GuardStatus::keepingAwake || status == GuardStatus::idleGrace ||
           status == GuardStatus::pluggedInUnlimited;
}

std::string text(const char* source) {
    return QCoreApplication::translate("WorkNotifier", source).toStdString();
}

/// `atLevel` with the charge put in ("The battery is at %1%."), or `unread` when there is no
/// reading; both in the user's language.
std::string batterySentence(const PowerSnapshot& power, const char* atLevel, const char* unread) {
    return power.batteryPercent ? QCoreApplication::translate("WorkNotifier", atLevel)
                                      .arg(*power.batteryPercent)
                                      .toStdString()
                                : text(unread);
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
        out_.show(Notice{
            text(QT_TRANSLATE_NOOP("WorkNotifier", "Battery low")),
            batterySentence(power, QT_TRANSLATE_NOOP("WorkNotifier", "The battery is at %1%."),
                            QT_TRANSLATE_NOOP("WorkNotifier", "The battery is low.")) +
                " " +
                QCoreApplication::translate("WorkNotifier",
                                            "At %1% the computer may sleep; plug it in to keep "
                                            "the agents working.")
                    .arg(cutoff)
                    .toStdString()});
    }
}

void WorkNotifier::announceEnd(GuardStatus status, const PowerSnapshot& power,
                               const GuardSettings& settings, std::optional<double> workedSeconds) {
    if (status == GuardStatus::batterySafety) {
        if (settings.notifications.safety) {
            out_.show(Notice{
                text(QT_TRANSLATE_NOOP("WorkNotifier", "Battery low — keep-awake stopped")),
                batterySentence(
                    power,
                    QT_TRANSLATE_NOOP("WorkNotifier", "The battery is at %1%, below the cutoff."),
                    QT_TRANSLATE_NOOP("WorkNotifier", "The battery is below the cutoff.")) +
                    " " +
                    text(QT_TRANSLATE_NOOP("WorkNotifier", "The computer may sleep again."))});
        }
        return;
    }
    if (status == GuardStatus::thermalSafety) {
        if (settings.notifications.safety) {
            out_.show(Notice{
                text(QT_TRANSLATE_NOOP("WorkNotifier", "Too hot — keep-awake stopped")),
                text(QT_TRANSLATE_NOOP("WorkNotifier",
                                       "The computer is running hot. It may sleep again to cool "
                                       "down."))});
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
    const QString who = holdAgent_ ? QString::fromStdString(*holdAgent_)
                                   : shown(QT_TRANSLATE_NOOP("WorkNotifier", "The agents"));
    QString body =
        workedSeconds
            ? shown(QT_TRANSLATE_NOOP("WorkNotifier", "%1 worked %2."))
                  .arg(who, QString::fromStdString(PanelTexts::durationWords(*workedSeconds)))
            : shown(QT_TRANSLATE_NOOP("WorkNotifier", "%1 finished.")).arg(who);
    body += u' ';
    body += graceLeft && *graceLeft > 0
                ? shown(QT_TRANSLATE_NOOP("WorkNotifier", "The computer may sleep in %1."))
                      .arg(QString::fromStdString(PanelTexts::durationWords(std::ceil(*graceLeft))))
                : shown(QT_TRANSLATE_NOOP("WorkNotifier", "The computer may sleep again."));
    out_.show(Notice{
        shown(QT_TRANSLATE_NOOP("WorkNotifier", "Agents finished")).toStdString(),
        body.toStdString(),
        {{sleepNowAction, shown(QT_TRANSLATE_NOOP("WorkNotifier", "Sleep now")).toStdString()},
         {keepAwakeLongerAction,
          shown(QT_TRANSLATE_NOOP("WorkNotifier", "Keep awake 30 more minutes")).toStdString()}}});
}

void WorkNotifier::lidClosedRefused(const GuardSettings& settings) {
    if (settings.notifications.problems) {
        out_.show(Notice{text(QT_TRANSLATE_NOOP("WorkNotifier", "Lid-closed mode is off")),
                         text(QT_TRANSLATE_NOOP("WorkNotifier",
                                                "Switching sleep off was refused or failed. Keep "
                                                "the lid open to keep the agents working."))});
    }
}

void WorkNotifier::launchAtLoginFailed(const std::string& description,
                                       const GuardSettings& settings) {
    if (settings.notifications.problems) {
        out_.show(Notice{text(QT_TRANSLATE_NOOP("WorkNotifier", "Launch at login failed")),
                         QCoreApplication::translate(
                             "WorkNotifier", "Stayloom could not set itself to start at login: %1")
                             .arg(QString::fromStdString(description))
                             .toStdString()});
    }
}

} // namespace nodwarden::app
