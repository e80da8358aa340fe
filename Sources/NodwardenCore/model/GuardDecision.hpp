#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/GuardStatus.hpp>

#include <optional>
#include <string>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// What the state machine decided for one moment.
struct GuardDecision {
    GuardStatus status = GuardStatus::off;
    bool shouldPreventSleep = false;
    /// One-shot request to put the Mac to sleep now.
    bool shouldSleepNow = false;
    std::optional<std::string> detectedAppName;
    std::string reason;
    bool isBatteryWarning = false;

    bool operator==(const GuardDecision&) const = default;
};

} // namespace nodwarden
