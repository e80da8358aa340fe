#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/ReasonCode.hpp>

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

/// The witness whose evidence decided a finding, as `status --json` names it (`decidedBy`): the
/// agent's own record or chat, its hooks, a readable screen, a sleep lock it holds, session files,
/// CPU, a run (a one-shot prompt, a command run through the agent's tool or `stayloom run`), or
/// its start-up.
enum class DecidingWitness { record, hook, screen, lock, files, cpu, run, startUp };

/// "record", "hook", "screen", "lock", "files", "cpu", "run", "startUp".
std::string_view rawValue(DecidingWitness witness);
std::optional<DecidingWitness> decidingWitnessFromRawValue(std::string_view raw);

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
    /// What `reason` says, for a program to put in its own words.
    ReasonCode reasonCode = ReasonCode::unspecified;
    /// The value `reason` carries beside the agent's name (the phrase matched, a file's age in
    /// seconds); empty when it carries none.
    std::string reasonDetail;
    /// Which witness decided; none for a finding that names no agent.
    std::optional<DecidingWitness> decidedBy = std::nullopt;
    /// The agent asks its user something (an approval, a question) and waits for the answer:
    /// not work, whatever the strength says about keeping the machine awake meanwhile.
    bool waitingForUser = false;

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
