#include <NodwardenApp/model/KeepAwakeReason.hpp>

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace nodwarden::app {

namespace {

std::string text(const QString& shown) {
    return shown.toStdString();
}

} // namespace

std::string keepAwakeLength(double seconds) {
    const long long minutes = std::llround(seconds / 60);
    // A length asked for in whole hours reads as such; anything else in minutes, as it was typed.
    if (minutes >= 60 && minutes % 60 == 0) {
        const long long hours = minutes / 60;
        return text(hours == 1
                        ? QCoreApplication::translate("KeepAwakeReason", "1 hour")
                        : QCoreApplication::translate("KeepAwakeReason", "%1 hours").arg(hours));
    }
    const long long shown = std::max(minutes, 1LL);
    return text(shown == 1
                    ? QCoreApplication::translate("KeepAwakeReason", "1 minute")
                    : QCoreApplication::translate("KeepAwakeReason", "%1 minutes").arg(shown));
}

std::string keepAwakeReason(AppMode mode, const GuardDecision& decision,
                            std::optional<double> timedSeconds) {
    if (mode == AppMode::manualKeepAwake) {
        // The length asked for, not the time left: the reason stays put for the whole hold, so
        // the lock is not taken again every minute.
        return timedSeconds
                   ? text(QCoreApplication::translate("KeepAwakeReason", "Keeping awake for %1")
                              .arg(QString::fromStdString(keepAwakeLength(*timedSeconds))))
                   : text(QCoreApplication::translate("KeepAwakeReason", "Manual keep-awake"));
    }
    if (decision.status == GuardStatus::pluggedInUnlimited) {
        return text(QCoreApplication::translate("KeepAwakeReason", "Plugged in: keeping awake"));
    }
    if (decision.status == GuardStatus::idleGrace) {
        return text(QCoreApplication::translate("KeepAwakeReason",
                                                "Waiting a moment after the agents' work"));
    }
    if (decision.detectedAppName && !decision.detectedAppName->empty()) {
        return text(QCoreApplication::translate("KeepAwakeReason", "%1 is working")
                        .arg(QString::fromStdString(*decision.detectedAppName)));
    }
    return text(QCoreApplication::translate("KeepAwakeReason", "An agent is working"));
}

} // namespace nodwarden::app
