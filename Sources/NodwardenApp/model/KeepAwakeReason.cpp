#include <NodwardenApp/model/KeepAwakeReason.hpp>

#include <NodwardenApp/model/PanelTexts.hpp>

namespace nodwarden::app {

std::string keepAwakeLength(double seconds) {
    return PanelTexts::durationWords(seconds);
}

std::string keepAwakeReason(AppMode mode, const GuardDecision& decision,
                            std::optional<double> timedSeconds) {
    if (mode == AppMode::manualKeepAwake) {
        // The length asked for, not the time left: the reason stays put for the whole hold, so
        // the lock is not taken again every minute.
        return timedSeconds ? "Keeping awake for " + keepAwakeLength(*timedSeconds)
                            : "Manual keep-awake";
    }
    if (decision.status == GuardStatus::pluggedInUnlimited) {
        return "Plugged in: keeping awake";
    }
    if (decision.status == GuardStatus::idleGrace) {
        return "Waiting a moment after the agents' work";
    }
    if (decision.detectedAppName && !decision.detectedAppName->empty()) {
        return *decision.detectedAppName + " is working";
    }
    return "An agent is working";
}

} // namespace nodwarden::app
