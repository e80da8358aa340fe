#include <NodwardenCore/hooks/HookAgents.hpp>

#include <NodwardenCore/hooks/HookPlugins.hpp>

#include <algorithm>

namespace nodwarden {

std::vector<std::string> HookAgent::turnEvents() const {
    std::vector<std::string> events = startEvents;
    events.insert(events.end(), endEvents.begin(), endEvents.end());
    return events;
}

std::vector<std::string> HookAgent::allEvents() const {
    std::vector<std::string> events = turnEvents();
    const auto add = [&](const std::string& event) {
        if (std::find(events.begin(), events.end(), event) == events.end()) {
            events.push_back(event);
        }
    };
    for (const auto* list : {&toolStartEvents, &toolEndEvents, &answerEvents}) {
        std::for_each(list->begin(), list->end(), add);
    }
    for (const auto& [event, kind] : waitEvents) {
        add(event);
    }
    return events;
}

namespace HookAgents {

const std::vector<HookAgent>& all() {
    // Only events each agent documents: an agent may refuse a configuration that names others.
    // OpenCode's events are the ones our own plugin (data/hooks/stayloom-opencode.js) sends for its
    // session's status, its tools and its permission questions. Claude Code and Qwen Code send no
    // end when a turn is cancelled; Qwen sends its "waiting for your input" notification
    // (`idle_prompt`, the one kind its entry matches) as soon as the prompt is back, after a cancel
    // too. Claude Code's `idle_prompt` does not follow a cancel. Gemini CLI is not reliable on a
    // cancel, Copilot CLI does not say, and has no event for a question it puts to its user. A
    // tool's start comes before its approval is asked for; nothing but the tool's end follows the
    // answer, so the command that starts then is what says the answer was given.
    static const std::vector<HookAgent> agents{
        {.word = "claude",
         .profileID = "claude-code",
         .startEvents = {"UserPromptSubmit"},
         .endEvents = {"Stop", "StopFailure", "SessionEnd"},
         .matchers = {{"Notification", "permission_prompt|elicitation_dialog"}},
         .toolStartEvents = {"PreToolUse"},
         .toolEndEvents = {"PostToolUse"},
         .waitEvents = {{"PermissionRequest", ""},
                        {"Notification", "permission_prompt"},
                        {"Notification", "elicitation_dialog"}},
         .folder = ".claude",
         .file = "settings.json"},
        {.word = "codex",
         .profileID = "codex-cli",
         .startEvents = {"UserPromptSubmit"},
         .endEvents = {"Stop", "Interrupt"},
         .announcesCancel = true,
         .toolStartEvents = {"PreToolUse"},
         .toolEndEvents = {"PostToolUse"},
         .waitEvents = {{"PermissionRequest", ""}},
         .folder = ".codex",
         .file = "hooks.json",
         .trustAtInstall = "Codex runs a new hook only after you trust it: in Codex, open /hooks "
                           "and trust Stayloom's entries.",
         .trustInStatus = "Codex runs it only once you trust it in its /hooks screen"},
        {.word = "gemini",
         .profileID = "gemini-cli",
         .startEvents = {"BeforeAgent"},
         .endEvents = {"AfterAgent", "SessionEnd"},
         .toolStartEvents = {"BeforeTool"},
         .toolEndEvents = {"AfterTool"},
         .waitEvents = {{"Notification", "ToolPermission"}},
         .folder = ".gemini",
         .file = "settings.json"},
        {.word = "qwen",
         .profileID = "qwen-code",
         .startEvents = {"UserPromptSubmit"},
         .endEvents = {"Stop", "StopFailure", "Notification"},
         .matchers = {{"Notification", "idle_prompt"}},
         .toolStartEvents = {"PreToolUse"},
         .toolEndEvents = {"PostToolUse"},
         .waitEvents = {{"PermissionRequest", ""}, {"Notification", "permission_prompt"}},
         .folder = ".qwen",
         .file = "settings.json"},
        {.word = "opencode",
         .profileID = "opencode",
         .startEvents = {"busy"},
         .endEvents = {"idle"},
         .announcesCancel = true,
         .toolStartEvents = {"tool"},
         .toolEndEvents = {"toolDone"},
         .waitEvents = {{"permission", ""}},
         .answerEvents = {"replied"},
         .base = HookFileBase::configHome,
         .folder = "opencode",
         .file = "plugins/stayloom.js",
         .format = HookFileFormat::plugin,
         .plugin = HookPlugins::openCode},
        {.word = "copilot",
         .profileID = "copilot-cli",
         .startEvents = {"userPromptSubmitted"},
         .endEvents = {"agentStop", "errorOccurred", "sessionEnd"},
         .toolStartEvents = {"preToolUse"},
         .toolEndEvents = {"postToolUse"},
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

HookTurn turnOf(const HookAgent& agent, std::string_view event, std::string_view kind) {
    const auto names = [&](const std::vector<std::string>& events) {
        return std::find(events.begin(), events.end(), event) != events.end();
    };
    if (names(agent.startEvents)) {
        return HookTurn::starts;
    }
    for (const auto& [waitEvent, waitKind] : agent.waitEvents) {
        if (waitEvent == event && (waitKind.empty() || waitKind == kind)) {
            return HookTurn::waits;
        }
    }
    if (names(agent.endEvents)) {
        return HookTurn::ends;
    }
    if (names(agent.toolStartEvents)) {
        return HookTurn::toolStarts;
    }
    if (names(agent.toolEndEvents)) {
        return HookTurn::toolEnds;
    }
    return names(agent.answerEvents) ? HookTurn::answered : HookTurn::other;
}

} // namespace HookAgents
} // namespace nodwarden
