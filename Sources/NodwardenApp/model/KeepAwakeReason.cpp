#include <NodwardenApp/model/KeepAwakeReason.hpp>

#include <algorithm>
#include <cmath>

namespace nodwarden::app {

std::string keepAwakeLength(double seconds) {
    const long long minutes = std::llround(seconds / 60);
    const auto plural = [](long long count, const char* unit) {
        return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
    };
    // A length asked for in whole hours reads as such; anything else in minutes, as it was typed.
    if (minutes >= 60 && minutes % 60 == 0) {
        return plural(minutes / 60, "hour");
    }
    return plural(std::max(minutes, 1LL), "minute");
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
