#pragma once

#include <NodwardenCore/Export.hpp>

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Thresholds that depend on the power source. The default value is a fresh installation's
/// battery profile; `GuardSettings` says how its plugged-in one differs.
struct GuardPowerProfile {
    /// On battery, at or below this charge keep-awake is released.
    int batteryCutoffPercent = 20;
    /// On battery, at or below this charge (and above the cutoff) the battery warning is raised.
    int warningPercent = 30;
    /// How long keep-awake is held after the last active-work signal.
    double idleGracePeriodSeconds = 90.0;
    /// Summed CPU share at or above which a CPU-trusted agent counts as working.
    double cpuThresholdPercent = 8.0;
    /// Only the plugged-in profile's value is ever consulted.
    bool allowUnlimitedKeepAwake = false;
    bool sleepAfterCompletion = true;
    bool sleepOnlyIfLidClosed = true;

    /// Strict: all seven keys must be present with the right JSON types.
    static std::optional<GuardPowerProfile> fromJSON(std::string_view text);
    std::string toJSON() const;

    bool operator==(const GuardPowerProfile&) const = default;
};

/// `fromJSON`'s rule for a profile embedded in another record (`what` names it); throws
/// `JSONDecoding::DecodingError`.
GuardPowerProfile decodeGuardPowerProfile(const nlohmann::json& value, std::string_view what);

// For records that embed it.
void to_json(nlohmann::json& value, const GuardPowerProfile& profile);

} // namespace nodwarden
