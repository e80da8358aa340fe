#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/GuardStatus.hpp>
#include <NodwardenCore/model/ReasonCode.hpp>

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
    /// The library's sentence; stored, and shown as it is where the library's texts are shown.
    std::string reason;
    bool isBatteryWarning = false;
    /// What `reason` says; for active work, the deciding signal's code.
    ReasonCode reasonCode = ReasonCode::unspecified;
    /// The deciding signal's detail (`ActivitySignal::reasonDetail`) when it decided.
    std::string reasonDetail;

    bool operator==(const GuardDecision&) const = default;
};

} // namespace nodwarden
