#pragma once

#include <QtGlobal>

#include <filesystem>
#include <string>
#include <vector>

namespace nodwarden::app {

/// What a hook sends, for every place that offers to connect agents.
inline constexpr char agentHookPrivacyNote[] = QT_TRANSLATE_NOOP(
    "AgentHooks", "A hook hands Stayloom the event's name and the session's id, never a prompt.");

/// One agent's hooks as they stand.
struct AgentHookState {
    /// Its word in `HookAgents`.
    std::string word;
    /// Its display name ("Claude Code").
    std::string name;
    /// The file our entries go in.
    std::filesystem::path file;
    /// Where it was looked for: its configuration folder, and its program on the search path.
    std::filesystem::path folder;
    std::string program;
    /// Its configuration folder exists or its program is on the search path. One not found can
    /// still be connected: its file is made as the agent would make it.
    bool found = false;
    /// Our entries for its turns are there.
    bool connected = false;
    /// Connected by an earlier version: the entries for its tools and its questions to the user
    /// are missing, so its tool runs and waits are not heard until it is connected again.
    bool outdated = false;
    /// The agent runs a new hook only once the user trusts it in the agent itself (Codex).
    bool needsTrust = false;
};

/// What connecting or disconnecting one agent came to: a line to show (empty when nothing was
/// there to take away), and whether it failed.
struct AgentHookChange {
    bool failed = false;
    std::string text;
};

/// Connecting agents through their own hook settings, as the settings window offers it. The
/// platform's edits the current user's; tests point one at a temporary home.
class AgentHookConnecting {
public:
    virtual ~AgentHookConnecting() = default;

    /// Every agent that has hooks, in `HookAgents` order.
    virtual std::vector<AgentHookState> list() const = 0;
    virtual AgentHookChange connect(const std::string& agent) = 0;
    virtual AgentHookChange disconnect(const std::string& agent) = 0;
};

} // namespace nodwarden::app
