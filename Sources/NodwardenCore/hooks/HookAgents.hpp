#pragma once

#include <NodwardenCore/Export.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// How an agent's events are read: what starts a turn and what ends one, a tool's call and
/// return, and a question put to the user (an approval, an elicitation) and its answer.
enum class HookTurn { starts, ends, toolStarts, toolEnds, waits, answered, other };

/// How an agent's hook configuration file is written.
enum class HookFileFormat {
    /// The agent's JSON settings, whose `hooks` object maps each event to groups of entries.
    grouped,
    /// A JSON file of our own: `version` 1 and a flat list of entries per event.
    flat,
    /// A plugin of ours (`HookAgent::plugin`), known as ours by its first line.
    plugin,
};

/// The folder an agent's hook file is found below: the home folder or the configuration home
/// (`$XDG_CONFIG_HOME`, else ~/.config).
enum class HookFileBase { home, configHome };

/// An agent that announces its turns to command hooks, as its own documentation names them, and
/// where and how its hooks are configured: everything the hook witness, the `hook` command and
/// the hook set-up know of it.
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
    /// The matcher an event's entry carries, where the agent sends that event for more than one
    /// purpose and only some kinds of it are ours (event, matcher).
    std::vector<std::pair<std::string, std::string>> matchers = {};
    /// The events before and after one of its tools runs.
    std::vector<std::string> toolStartEvents = {};
    std::vector<std::string> toolEndEvents = {};
    /// The events that say it waits for its user, with the kind (the payload's
    /// `notification_type`) that means so; an empty kind takes any.
    std::vector<std::pair<std::string, std::string>> waitEvents = {};
    /// The events that say the user answered.
    std::vector<std::string> answerEvents = {};

    /// Its per-user configuration: `folder` below `base` (whose presence, or the program `word`
    /// on PATH, says the agent is used here), and in it `file`, written as `format`.
    HookFileBase base = HookFileBase::home;
    std::string folder = {};
    std::string file = {};
    HookFileFormat format = HookFileFormat::grouped;
    /// What the agent asks before it runs a new hook, said once it is installed and in the
    /// status; empty where it runs hooks as they are written.
    std::string trustAtInstall = {};
    std::string trustInStatus = {};
    /// The plugin file's text where `format` is `plugin`: `pluginProgramMark` stands for the
    /// program's path as a JavaScript string, and the first line is `pluginFirstLine`.
    std::string_view plugin = {};

    /// Every event its hooks are installed for.
    std::vector<std::string> allEvents() const;
    /// The events an installation made before tool runs and waits were heard.
    std::vector<std::string> turnEvents() const;
};

namespace HookAgents {

/// Where the program's path goes in a plugin's text.
inline constexpr std::string_view pluginProgramMark = "STAYLOOM_PROGRAM";
/// The first line of every plugin of ours, by which an installed one is known.
inline constexpr std::string_view pluginFirstLine = "// Stayloom's OpenCode plugin.";

/// Claude Code, Codex CLI, Gemini CLI, Qwen Code, OpenCode and Copilot CLI, in that order.
const std::vector<HookAgent>& all();
/// The agent `stayloom hook` calls `word`; null for any other word.
const HookAgent* find(std::string_view word);
/// What `event` of `kind` (the payload's `notification_type`, empty when it has none) says
/// about `agent`'s turn.
HookTurn turnOf(const HookAgent& agent, std::string_view event, std::string_view kind = {});

} // namespace HookAgents

} // namespace nodwarden
