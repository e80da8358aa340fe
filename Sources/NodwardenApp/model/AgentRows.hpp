#pragma once

#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/GuardStatus.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden::app {

struct PlatformWording;

/// One row of the agents list in the panel; identified by its name.
struct AgentStatusRow {
    /// The agent's display name (the signal's `appName`).
    std::string name;
    /// One short explanatory line.
    std::string detail;
    /// "working", "probably working", "grace", "waiting for you" or "idle".
    std::string state;
    /// Whether the row counts towards the working agents.
    bool isWorking = false;
    /// Application whose icon stands for the agent.
    std::optional<std::string> bundleID;
    /// Symbol-image name shown when no application icon is available.
    std::string symbol;
    /// A command kept awake by `stayloom run`, not a detected agent.
    bool fromCommand = false;
    /// The agent asks its user something and waits for the answer.
    bool isWaiting = false;
    /// The witness that decided the row ("record", "hook", "screen", "lock", "files", "cpu",
    /// "run", "startUp"); empty when none did.
    std::string decidedBy = {};

    const std::string& id() const { return name; }

    bool operator==(const AgentStatusRow&) const = default;
};

/// The most rows the panel shows; keeps its height bounded.
inline constexpr std::size_t maxAgentRows = 12;

/// The panel rows for one evaluation's per-agent signals: one row per agent name (its strongest
/// signal), working rows first, then by name in code-point order, at most `maxAgentRows`.
/// `status` decides whether the lead agent's presence reads as the idle grace; `settings` decide
/// which catalog profiles supply icons.
/// The details are in `wording`'s words (the platform's own without one).
std::vector<AgentStatusRow> buildAgentRows(const std::vector<ActivitySignal>& perApp,
                                           GuardStatus status, const GuardSettings& settings,
                                           const PlatformWording& wording);
std::vector<AgentStatusRow> buildAgentRows(const std::vector<ActivitySignal>& perApp,
                                           GuardStatus status, const GuardSettings& settings);

} // namespace nodwarden::app
