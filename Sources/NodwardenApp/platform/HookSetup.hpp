#pragma once

#include <NodwardenApp/model/AgentHookConnecting.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace nodwarden::app {

struct LinuxPlatformOptions;

/// Where the agents keep their per-user configuration, and the program their hooks run.
struct HookSetupPlace {
    std::filesystem::path home;
    /// ${XDG_CONFIG_HOME:-~/.config}: OpenCode's plugins live below it.
    std::filesystem::path configHome;
    /// The PATH an agent's program is looked for on.
    std::string searchPath;
    /// The absolute path of this program, which the entries run.
    std::filesystem::path program;
};

/// `stayloom hooks install|remove|status [AGENT…]`: our entries in each agent's own per-user
/// hook configuration (Claude Code, Codex, Gemini CLI and Qwen Code: their JSON settings or
/// hooks file; Copilot CLI: a file of ours in its hooks folder; OpenCode: a plugin file of ours).
/// The user's entries are never changed; a file that cannot be edited faithfully (comments, a
/// link, not JSON) is left alone and named. Files are replaced whole, never written through.
namespace HookSetup {

enum class Verb { install, remove, status };

/// The current user's folders and PATH, and this program.
HookSetupPlace placeForCurrentUser();
/// The folders of `options`, the current PATH, and the program `options` name.
HookSetupPlace placeFor(const LinuxPlatformOptions& options);

using AgentHooks = AgentHookState;
using Result = AgentHookChange;

/// Every agent that has hooks, in `HookAgents` order.
std::vector<AgentHooks> list(const HookSetupPlace& place);

Result connect(const HookSetupPlace& place, const std::string& agent);
Result disconnect(const HookSetupPlace& place, const std::string& agent);

/// `agents` are words of `HookAgents`; none means every agent found (install) or every agent
/// (remove, status). An agent is found when its configuration folder exists or its program is
/// on the search path. Returns 0, or 1 when a file was left alone or could not be written.
int run(Verb verb, const std::vector<std::string>& agents, const HookSetupPlace& place,
        std::FILE* output, std::FILE* errors);

} // namespace HookSetup

} // namespace nodwarden::app
