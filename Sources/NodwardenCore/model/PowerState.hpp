#pragma once

#include <NodwardenCore/Export.hpp>

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

enum class LidState { open, closed, unknown };

std::string_view rawValue(LidState state);
std::string_view displayName(LidState state);
std::optional<LidState> lidStateFromRawValue(std::string_view raw);

/// Power source and battery charge as read from the power tool.
struct PowerSnapshot {
    bool isOnACPower = false;
    /// Charge 0 to 100; absent when there is no battery or no reading.
    std::optional<int> batteryPercent;
    /// The power tool's text the snapshot was read from.
    std::string rawDescription;

    /// "85%, AC Power", "Battery unknown, Battery".
    std::string displayName() const;

    static std::optional<PowerSnapshot> fromJSON(std::string_view text);
    std::string toJSON() const;

    bool operator==(const PowerSnapshot&) const = default;
};

/// The platform's four-level thermal pressure; only `critical` changes a decision.
enum class ThermalState { nominal, fair, serious, critical };

// For records that embed these values.
void to_json(nlohmann::json& value, LidState state);
void from_json(const nlohmann::json& value, LidState& state);
void to_json(nlohmann::json& value, const PowerSnapshot& power);
void from_json(const nlohmann::json& value, PowerSnapshot& power);

} // namespace nodwarden
