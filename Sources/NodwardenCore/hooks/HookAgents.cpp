#include <NodwardenCore/hooks/HookAgents.hpp>

#include <algorithm>

namespace nodwarden::HookAgents {

const std::vector<HookAgent>& all() {
    // Only events each agent documents: an agent may refuse a configuration that names others.
    // OpenCode's events are the ones our own plugin sends for its session's status. Claude Code
    // and Qwen Code send no end when a turn is cancelled; Qwen sends its "waiting for your input"
    // notification (`idle_prompt`) as soon as the prompt is back, after a cancel too, while its
    // other notifications (a permission asked for) come mid-turn. Claude Code's `idle_prompt`
    // does not follow a cancel. Gemini CLI is not reliable on a cancel, Copilot CLI does not say.
    static const std::vector<HookAgent> agents{
        {"claude", "claude-code", {"UserPromptSubmit"}, {"Stop", "StopFailure", "SessionEnd"}},
        {"codex", "codex-cli", {"UserPromptSubmit"}, {"Stop", "Interrupt"}, true},
        {"gemini", "gemini-cli", {"BeforeAgent"}, {"AfterAgent", "SessionEnd"}},
        {"qwen",
         "qwen-code",
         {"UserPromptSubmit"},
         {"Stop", "StopFailure", "Notification"},
         false,
         {{"Notification", "idle_prompt"}}},
        {"opencode", "opencode", {"busy"}, {"idle"}, true},
        {"copilot",
         "copilot-cli",
         {"userPromptSubmitted"},
         {"agentStop", "errorOccurred", "sessionEnd"}},
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
