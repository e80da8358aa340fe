#pragma once

#include <NodwardenCore/Export.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// How an agent's turn events are read: what starts a turn and what ends one.
enum class HookTurn { starts, ends, other };

/// An agent that announces its turns to command hooks, as its own documentation names them.
struct HookAgent {
    /// The word of `stayloom hook AGENT EVENT` and `stayloom hooks install AGENT`.
    std::string word;
    /// Its profile in the catalog.
    std::string profileID;
    /// The events that begin a turn.
    std::vector<std::string> startEvents;
    /// The events after which no turn runs: its end, an interrupt, a failure, the session's end.
    std::vector<std::string> endEvents;
    /// Whether a cancelled turn ends with one of `endEvents`; otherwise a turn's start cannot be
    /// taken as the agent's final word.
    bool announcesCancel = false;
    /// The matcher an event's entry carries, where the agent sends that event for more than a
    /// turn's end and only one kind of it is ours (event, matcher).
    std::vector<std::pair<std::string, std::string>> matchers = {};
};

namespace HookAgents {

/// Claude Code, Codex CLI, Gemini CLI, Qwen Code, OpenCode and Copilot CLI, in that order.
const std::vector<HookAgent>& all();
/// The agent `stayloom hook` calls `word`; null for any other word.
const HookAgent* find(std::string_view word);
/// What `event` says about `agent`'s turn.
HookTurn turnOf(const HookAgent& agent, std::string_view event);

} // namespace HookAgents

} // namespace nodwarden
