#include <NodwardenCore/hooks/HookAgents.hpp>

#include <NodwardenCore/hooks/HookPlugins.hpp>

#include <algorithm>

namespace nodwarden::HookAgents {

const std::vector<HookAgent>& all() {
    // Only events each agent documents: an agent may refuse a configuration that names others.
    // OpenCode's events are the ones our own plugin (data/hooks/stayloom-opencode.js) sends for its
    // session's status. Claude Code
    // and Qwen Code send no end when a turn is cancelled; Qwen sends its "waiting for your input"
    // notification (`idle_prompt`) as soon as the prompt is back, after a cancel too, while its
    // other notifications (a permission asked for) come mid-turn. Claude Code's `idle_prompt`
    // does not follow a cancel. Gemini CLI is not reliable on a cancel, Copilot CLI does not say.
    static const std::vector<HookAgent> agents{
        {.word = "claude",
         .profileID = "claude-code",
         .startEvents = {"UserPromptSubmit"},
         .endEvents = {"Stop", "StopFailure", "SessionEnd"},
         .folder = ".claude",
         .file = "settings.json"},
        {.word = "codex",
         .profileID = "codex-cli",
         .startEvents = {"UserPromptSubmit"},
         .endEvents = {"Stop", "Interrupt"},
         .announcesCancel = true,
         .folder = ".codex",
         .file = "hooks.json",
         .trustAtInstall = "Codex runs a new hook only after you trust it: in Codex, open /hooks "
                           "and trust Stayloom's entries.",
         .trustInStatus = "Codex runs it only once you trust it in its /hooks screen"},
        {.word = "gemini",
         .profileID = "gemini-cli",
         .startEvents = {"BeforeAgent"},
         .endEvents = {"AfterAgent", "SessionEnd"},
         .folder = ".gemini",
         .file = "settings.json"},
        {.word = "qwen",
         .profileID = "qwen-code",
         .startEvents = {"UserPromptSubmit"},
         .endEvents = {"Stop", "StopFailure", "Notification"},
         .matchers = {{"Notification", "idle_prompt"}},
         .folder = ".qwen",
         .file = "settings.json"},
        {.word = "opencode",
         .profileID = "opencode",
         .startEvents = {"busy"},
         .endEvents = {"idle"},
         .announcesCancel = true,
         .base = HookFileBase::configHome,
         .folder = "opencode",
         .file = "plugins/stayloom.js",
         .format = HookFileFormat::plugin,
         .plugin = HookPlugins::openCode},
        {.word = "copilot",
         .profileID = "copilot-cli",
         .startEvents = {"userPromptSubmitted"},
         .endEvents = {"agentStop", "errorOccurred", "sessionEnd"},
         .folder = ".copilot",
         .file = "hooks/stayloom.json",
         .format = HookFileFormat::flat},
    };
    return agents;
}

const HookAgent* find(std::string_view word) {
    const auto& agents = all();
    const auto found = std::find_if(agents.begin(), agents.end(),
                                    [&](const HookAgent& agent) { return agent.word == word; });
    return found == agents.end() ? nullptr : &*found;
}

HookTurn turnOf(const HookAgent& agent, std::string_view event) {
    const auto names = [&](const std::vector<std::string>& events) {
        return std::find(events.begin(), events.end(), event) != events.end();
    };
    if (names(agent.startEvents)) {
        return HookTurn::starts;
    }
    return names(agent.endEvents) ? HookTurn::ends : HookTurn::other;
}

} // namespace nodwarden::HookAgents
