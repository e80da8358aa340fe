#include <NodwardenApp/model/DebugSimulation.hpp>

#include <algorithm>

namespace nodwarden::app {

void DebugSimulation::start(Date now, double seconds) {
    expiresAt_ = now + std::max(seconds, 30.0);
}

void DebugSimulation::stop() {
    expiresAt_.reset();
}

std::vector<ActivitySignal> DebugSimulation::mergedInto(const std::vector<ActivitySignal>& perApp,
                                                        Date now) {
    if (expiresAt_ && now > *expiresAt_) {
        expiresAt_.reset();
    }
    if (!expiresAt_) {
        return perApp;
    }
    ActivitySignal signal;
    signal.strength = SignalStrength::strong;
    signal.appName = appName;
    signal.reason = "Debug simulator reports active work";
    signal.matchedText = "Simulate Agent Active";
    std::vector<ActivitySignal> merged = perApp;
    std::erase_if(merged, [&](const ActivitySignal& each) { return each.appName == appName; });
    merged.push_back(std::move(signal));
    return merged;
}

} // namespace nodwarden::app
