#pragma once

#include <NodwardenCore/Export.hpp>

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Thresholds that depend on the power source.
struct GuardPowerProfile {
    GuardPowerProfile(int batteryCutoffPercent, int warningPercent, double idleGracePeriodSeconds,
                      double cpuThresholdPercent, bool allowUnlimitedKeepAwake,
                      bool sleepAfterCompletion, bool sleepOnlyIfLidClosed);

    /// On battery, at or below this charge keep-awake is released.
    int batteryCutoffPercent;
    /// On battery, at or below this charge (and above the cutoff) the battery warning is raised.
    int warningPercent;
    /// How long keep-awake is held after the last active-work signal.
    double idleGracePeriodSeconds;
    /// Summed CPU share at or above which a CPU-trusted agent counts as working.
    double cpuThresholdPercent;
    /// Only the plugged-in profile's value is ever consulted.
    bool allowUnlimitedKeepAwake;
    bool sleepAfterCompletion;
    bool sleepOnlyIfLidClosed;

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
