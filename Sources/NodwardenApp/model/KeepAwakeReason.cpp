#include <NodwardenApp/model/KeepAwakeReason.hpp>

namespace nodwarden::app {

std::string keepAwakeReason(AppMode mode, const GuardDecision& decision) {
    if (mode == AppMode::manualKeepAwake) {
        return "Manual keep-awake";
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
