#include <NodwardenApp/model/KeepAwakeReason.hpp>

#include <NodwardenApp/model/PanelTexts.hpp>

#include <QCoreApplication>

namespace nodwarden::app {

namespace {

std::string text(const QString& shown) {
    return shown.toStdString();
}

} // namespace

std::string keepAwakeLength(double seconds) {
    return PanelTexts::durationWords(seconds);
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
