#include <NodwardenApp/model/AppModel.hpp>

// The developers' simulator: a made-up agent that drives the decisions by hand (Debug builds).
#if defined(STAYLOOM_DEBUG_SIMULATOR)

#include <algorithm>

namespace nodwarden::app {

std::optional<ActivitySignal> AppModel::activeSimulationSignal() {
    if (!simulationSignal_) {
        return std::nullopt;
    }
    if (!simulationExpiresAt_ || now() > *simulationExpiresAt_) {
        simulationSignal_.reset();
        simulationExpiresAt_.reset();
        return std::nullopt;
    }
    return simulationSignal_;
}

void AppModel::simulateActive() {
    ActivitySignal signal;
    signal.strength = SignalStrength::strong;
    signal.appName = simulationAppName;
    signal.reason = "Debug simulator reports active work";
    signal.matchedText = "Simulate Agent Active";
    simulationSignal_ = signal;
    simulationExpiresAt_ = now() + std::max(largestIdleGrace(), 30.0);
    log("Simulation active enabled");
    tick();
}

void AppModel::simulateFinished() {
    simulationSignal_.reset();
    simulationExpiresAt_.reset();
    stateMachine_.markFinished(now(), largestIdleGrace());
    log("Simulation finished enabled");
    tick();
}

} // namespace nodwarden::app

#endif
