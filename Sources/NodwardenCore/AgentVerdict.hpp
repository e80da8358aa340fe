#pragma once

#include <NodwardenCore/Date.hpp>
#include <NodwardenCore/ProcessTableReading.hpp>

#include <string>
#include <vector>

namespace nodwarden {

struct GuardSettings;

/// What a definite witness says about one running agent.
enum class AgentWorkState { working, idle };

/// Which witness spoke. The agent's own status record outranks its screen; a sleep lock the agent
/// took itself says it is working.
enum class AgentVerdictSource { statusRecord, screen, lock };

/// A definite finding about one agent: its own status record, or a screen (an accessible terminal
/// window, a tmux pane) that could be read and is attributed to the agent's process. Unlike an
/// `ActivitySignal`, an idle verdict is information: it says that the agent's CPU and file times
/// must not be read as work.
struct AgentVerdict {
    /// Display name of the agent, as in `AgentProfile::displayName` and `ActivitySignal::appName`.
    std::string appName;
    AgentWorkState state = AgentWorkState::idle;
    AgentVerdictSource source = AgentVerdictSource::statusRecord;

    bool operator==(const AgentVerdict&) const = default;
};

/// A witness that can give definite verdicts. Returns at most one verdict per agent; an agent it
/// cannot speak for (no record, no readable screen, a stale record) is simply absent. Never keeps,
/// logs or returns the text it read.
class AgentVerdictDetecting {
public:
    virtual ~AgentVerdictDetecting() = default;

    /// Verdicts for the agents watched under `settings`, given the process table of this pass.
    virtual std::vector<AgentVerdict> detectVerdicts(const GuardSettings& settings,
                                                     const std::vector<ProcessSnapshot>& processes,
                                                     Date now) = 0;
};

} // namespace nodwarden
