#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/AgentVerdict.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class DetectionPass;

/// The commands agents run through their own tools, seen in the process tree: a process started
/// below an agent's process (for Codex, below its app-server daemon) that is not the agent's own,
/// each process on its own (Copilot keeps one shell for all its commands).
///
/// A process first seen while its agent was at work or waiting for its user (the answer that
/// starts the command it asked about) is part of the turn: while it runs, the agent works,
/// whatever its screen, its chat or the command's CPU show (a test suite waiting on a server, a
/// `sleep`). It stops speaking once the agent's own word (its record, its chat, its hooks) has
/// said working since the command started and then no longer does: the turn ended and left it
/// running (a dev server). Such processes are work only while together they use more CPU than
/// the work threshold; one the agent started outside a turn (its tool servers at start-up) is
/// never a command.
/// A wait that began after the command started stands: the agent asks something else. So does a
/// wait whose witness says when it is answered. CPU alone makes no turn while an agent starts,
/// and our own hook's processes (`stayloom hook`) are never a command.
///
/// Remembers what it saw from pass to pass; calls must not overlap (the detection queue).
class ToolRunWitness {
public:
    /// Amends `best`, the verdicts by agent name the witnesses gave in `pass`, with what the
    /// agents' tool commands say; `ownWord` is what each agent's own record, chat and hooks said
    /// (waiting over working over idle).
    void amend(const DetectionPass& pass, std::map<std::string, AgentVerdict>& best,
               const std::map<std::string, AgentWorkState>& ownWord);

    /// What the pass decided per agent (`merged`), the turn a command started next is judged by.
    void remember(const std::vector<ActivitySignal>& merged);

private:
    /// A command by its pid and start ticks.
    using Key = std::pair<std::int32_t, std::uint64_t>;
    struct Command {
        std::string agent;
        Date firstSeen = 0;
        bool bornInTurn = false;
        /// The agent's own word said working since the command started.
        bool ownWordWorked = false;
        /// The agent's turn ended while it ran.
        bool leftBehind = false;
    };

    /// What an agent came to at the last pass.
    struct LastState {
        AgentWorkState state = AgentWorkState::idle;
        /// Only its processes' CPU said so.
        bool byCPUOnly = false;
    };

    std::map<Key, Command> commands_;
    std::map<std::string, LastState> lastState_;
    /// Since when the witnesses say each agent waits.
    std::map<std::string, Date> waitingSince_;
};

} // namespace nodwarden
