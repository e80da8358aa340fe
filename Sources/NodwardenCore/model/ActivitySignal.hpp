#pragma once

#include <NodwardenCore/Export.hpp>

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// How strong the evidence of agent work is; ordered by raw value (`none` < ... < `strong`).
enum class SignalStrength : int { none = 0, presence = 1, weak = 2, strong = 3 };

int rawValue(SignalStrength strength);
/// Accepts 0 to 3; anything else yields no value.
std::optional<SignalStrength> signalStrengthFromRawValue(int raw);
/// `weak` and `strong` both mean active work.
bool isActiveWork(SignalStrength strength);

/// One detector's or one agent's finding.
struct ActivitySignal {
    SignalStrength strength = SignalStrength::none;
    /// Display name of the agent the signal is about; the agent's identity everywhere.
    std::optional<std::string> appName;
    /// Human-readable explanation shown as the status reason while keeping awake.
    std::string reason;
    /// The on-screen phrase or other text that produced the signal.
    std::optional<std::string> matchedText;
    std::optional<int> sessionCount;
    std::optional<bool> processPresent;

    /// Strength `none`, reason "No active agent signal", no optional field.
    static ActivitySignal none();

    static std::optional<ActivitySignal> fromJSON(std::string_view text);
    std::string toJSON() const;

    bool operator==(const ActivitySignal&) const = default;
};

/// The signal of highest strength (the first among equals), or `ActivitySignal::none()` when there
/// is none: what one pass's per-agent signals say as a whole.
ActivitySignal strongestSignal(const std::vector<ActivitySignal>& candidates);

// For records that embed these values.
void to_json(nlohmann::json& value, SignalStrength strength);
void from_json(const nlohmann::json& value, SignalStrength& strength);
void to_json(nlohmann::json& value, const ActivitySignal& signal);
void from_json(const nlohmann::json& value, ActivitySignal& signal);

} // namespace nodwarden
