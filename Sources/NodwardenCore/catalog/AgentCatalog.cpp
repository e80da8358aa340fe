#include <NodwardenCore/catalog/AgentCatalog.hpp>

#include <algorithm>
#include <array>
#include <utility>

namespace nodwarden {
namespace {

using Strings = std::vector<std::string>;

constexpr std::array<std::pair<AgentProfile::Kind, std::string_view>, 4> kindRawValues = {{
    {AgentProfile::Kind::desktopAI, "desktopAI"},
    {AgentProfile::Kind::editor, "editor"},
    {AgentProfile::Kind::browser, "browser"},
    {AgentProfile::Kind::cli, "cli"},
}};

struct SessionFiles {
    Strings activityGlobs;
    bool sharedWithOtherApps = false;
    Strings countGlobs;
};

/// The evidence flags follow from the kind: command-line agents are trusted on CPU and looked for
/// in terminals; editors and browsers show so much text that only multi-word phrases count.
AgentProfile makeProfile(std::string id, std::string displayName, AgentProfile::Kind kind,
                         Strings bundleIDs, Strings appBundleNames, Strings cliProcessNames,
                         Strings cliPathMarkers, Strings activePhrases, Strings idlePhrases,
                         SessionFiles sessionFiles) {
    const bool isCLI = kind == AgentProfile::Kind::cli;
    const bool showsBusyText =
        kind == AgentProfile::Kind::editor || kind == AgentProfile::Kind::browser;
    return AgentProfile{
        .id = std::move(id),
        .displayName = std::move(displayName),
        .kind = kind,
        .bundleIDs = std::move(bundleIDs),
        .iconBundleID = std::nullopt,
        .appBundleNames = std::move(appBundleNames),
        .cliProcessNames = std::move(cliProcessNames),
        .cliPathMarkers = std::move(cliPathMarkers),
        .trustsCPUSignal = isCLI,
        .scanTerminalText = isCLI,
        .requireMultiWordPhrases = showsBusyText,
        .activePhrases = std::move(activePhrases),
        .idlePhrases = std::move(idlePhrases),
        .sessionActivityGlobs = std::move(sessionFiles.activityGlobs),
        .sessionGlobsSharedWithOtherApps = sessionFiles.sharedWithOtherApps,
        .sessionCountGlobs = std::move(sessionFiles.countGlobs),
    };
}

AgentProfile cliAgent(std::string id, std::string displayName, Strings processNames,
                      Strings pathMarkers, Strings activePhrases, SessionFiles sessionFiles = {}) {
    return makeProfile(std::move(id), std::move(displayName), AgentProfile::Kind::cli, {}, {},
                       std::move(processNames), std::move(pathMarkers), std::move(activePhrases),
                       {}, std::move(sessionFiles));
}

AgentProfile appAgent(std::string id, std::string displayName, AgentProfile::Kind kind,
                      Strings bundleIDs, Strings appBundleNames, Strings activePhrases,
                      Strings idlePhrases, SessionFiles sessionFiles = {}) {
    return makeProfile(std::move(id), std::move(displayName), kind, std::move(bundleIDs),
                       std::move(appBundleNames), {}, {}, std::move(activePhrases),
                       std::move(idlePhrases), std::move(sessionFiles));
}

AgentProfile editor(std::string id, std::string displayName, Strings bundleIDs,
                    Strings appBundleNames) {
    return appAgent(std::move(id), std::move(displayName), AgentProfile::Kind::editor,
                    std::move(bundleIDs), std::move(appBundleNames),
                    {"Stop generating", "Generating response"}, {});
}

AgentProfile browser(std::string id, std::string displayName, Strings bundleIDs,
                     Strings appBundleNames) {
    return appAgent(std::move(id), std::move(displayName), AgentProfile::Kind::browser,
                    std::move(bundleIDs), std::move(appBundleNames),
                    {"Stop generating", "Claude is working", "Codex is working"}, {});
}

} // namespace

std::string_view rawValue(AgentProfile::Kind kind) {
    for (const auto& [candidate, raw] : kindRawValues) {
        if (candidate == kind) {
            return raw;
        }
    }
    return {};
}

std::optional<AgentProfile::Kind> agentKindFromRawValue(std::string_view raw) {
    for (const auto& [kind, candidate] : kindRawValues) {
        if (candidate == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

namespace AgentCatalog {

HostSystem currentHostSystem() {
#if defined(__APPLE__)
    return HostSystem::macOS;
#else
    return HostSystem::linux;
#endif
}

std::vector<AgentProfile> builtin() {
    return builtin(currentHostSystem());
}

bool isMadeFor(const AgentProfile& profile, HostSystem host) {
    const auto& systems = profile.hostSystems;
    return systems.empty() || std::find(systems.begin(), systems.end(), host) != systems.end();
}

std::vector<AgentProfile> offered() {
    std::vector<AgentProfile> profiles = builtin();
    const HostSystem host = currentHostSystem();
    std::erase_if(profiles,
                  [host](const AgentProfile& profile) { return !isMadeFor(profile, host); });
    return profiles;
}

std::vector<AgentProfile> builtin(HostSystem host) {
    using Kind = AgentProfile::Kind;
    const std::string claudeSessions = ".claude/projects/**/*.jsonl";
    const std::string codexRollouts = ".codex/sessions/**/rollout-*.jsonl";
    const std::string grokUpdates = ".grok/sessions/**/updates.jsonl";
    const std::string piSessions = ".pi/agent/sessions/**/*.jsonl";
    const std::string geminiChats = ".gemini/tmp/*/chats/session-*.jsonl";
    const std::string qwenChats = ".qwen/projects/*/chats/*.jsonl";

    AgentProfile claudeCode =
        cliAgent("claude-code", "Claude Code", {"claude"}, {"/claude-code/", "/claude/versions/"},
                 {"esc to interrupt", "to interrupt", "tokens used", "Context left"},
                 {{claudeSessions}, false, {claudeSessions}});
    // Claude Code has no application of its own; the desktop application's icon stands for it.
    claudeCode.iconBundleID = "com.anthropic.claudefordesktop";

    AgentProfile codex = cliAgent("codex-cli", "Codex CLI", {"codex"}, {},
                                  {"esc to interrupt", "to interrupt", "tokens used", "Working"},
                                  {{".codex/log/codex-tui.log"}, false, {codexRollouts}});
    // The app-server daemons outlive the terminal program and serve every later session.
    codex.backgroundSubcommands = {"app-server"};
    // One-shot runs, as scripts start them: `claude -p`, `codex exec` (alias `e`), `gemini -p`,
    // `copilot -p`, `opencode run`, `qwen -p`.
    claudeCode.oneShotArguments = {"-p", "--print"};
    // The Agent SDK (editor extensions) runs `claude --print --input-format stream-json` for a
    // whole session, waiting for prompts between turns.
    claudeCode.promptStreamArguments = {"--input-format=stream-json"};
    codex.oneShotArguments = {"exec", "e"};
    // What each shows while it waits for an approval.
    claudeCode.questionPhrases = {"Do you want to proceed?", "This command requires approval",
                                  "Do you want to make this edit", "Do you want to create"};
    codex.questionPhrases = {"Would you like to run", "Would you like to make the following edits"};

    // Gemini and Qwen write one chat file per session; when they are written says nothing
    // about work (the reply is written when it ends), so they count sessions only.
    AgentProfile gemini = cliAgent("gemini-cli", "Gemini CLI", {"gemini"}, {},
                                   {"esc to cancel,", "esc to interrupt", "to interrupt", "tokens"},
                                   {{}, false, {geminiChats}});
    gemini.oneShotArguments = {"-p", "--prompt"};
    gemini.questionPhrases = {"Allow execution of", "Apply this change?"};
    // Copilot's footer while it works: "esc esc interrupt", before the first token
    // "esc esc edit prompt".
    AgentProfile copilot =
        cliAgent("copilot-cli", "Copilot CLI", {"copilot"}, {},
                 {"esc esc interrupt", "esc esc edit prompt", "esc to interrupt", "to interrupt"});
    copilot.oneShotArguments = {"-p", "--prompt"};
    copilot.questionPhrases = {"Do you want to run this command?"};
    AgentProfile openCode =
        cliAgent("opencode", "OpenCode", {"opencode"}, {},
                 {"esc interrupt", "esc to interrupt", "to interrupt", "working"},
                 {{".local/share/opencode/*.db-wal"}, true, {}});
    openCode.oneShotArguments = {"run"};
    openCode.questionPhrases = {"Permission required"};
    AgentProfile qwen = cliAgent("qwen-code", "Qwen Code", {"qwen"}, {},
                                 {"\u00B7 esc to cancel)", "esc to interrupt", "to interrupt"},
                                 {{}, false, {qwenChats}});
    qwen.oneShotArguments = {"-p", "--prompt"};
    qwen.questionPhrases = {"Allow execution of", "Waiting for user confirmation"};

    // The desktop application whose Codex sessions write the same rollouts as Codex CLI is made
    // for macOS only: elsewhere the rollouts are Codex CLI's.
    AgentProfile chatGPT =
        appAgent("chatgpt-desktop", "ChatGPT", Kind::desktopAI,
                 {"com.openai.codex", "com.openai.chat"}, {"ChatGPT", "Codex"},
                 {"Stop generating", "Stop streaming", "Stop", "Working", "Generating"},
                 {"Ask anything", "Message ChatGPT", "Ask Codex"}, {{codexRollouts}, false, {}});
    chatGPT.hostSystems = {HostSystem::macOS};

    std::vector<AgentProfile> profiles = {
        std::move(claudeCode),
        std::move(codex),
        std::move(gemini),
        std::move(copilot),
        std::move(openCode),
        cliAgent("grok-build", "Grok Build", {"grok", "xai-grok-pager"}, {}, {"to interrupt"},
                 {{grokUpdates}, true, {grokUpdates}}),
        cliAgent("aider", "Aider", {"aider"}, {}, {"Tokens:", "to interrupt"}),
        std::move(qwen),
        cliAgent("pi-coding-agent", "Pi", {"pi"}, {"/pi-coding-agent/"},
                 {"esc to interrupt", "to interrupt"}, {{piSessions}, true, {piSessions}}),

        appAgent("claude-desktop", "Claude", Kind::desktopAI, {"com.anthropic.claudefordesktop"},
                 {"Claude"}, {"Stop response", "Stop generating", "Thinking"},
                 {"Reply to Claude", "Message Claude", "How can I help"}),
        std::move(chatGPT),
        appAgent("opencode-desktop", "OpenCode Desktop", Kind::desktopAI, {"ai.opencode.desktop"},
                 {"OpenCode"}, {}, {}),
        appAgent("qwen-code-desktop", "Qwen Code Desktop", Kind::desktopAI,
                 {"com.alibaba.qwen-code"}, {"Qwen Code Desktop"}, {}, {}),
        appAgent("gemini-desktop", "Gemini", Kind::desktopAI, {"com.google.geminimacos"},
                 {"Gemini"}, {"Stop generating", "Stop"}, {"Ask Gemini"}),

        editor("cursor", "Cursor", {"com.todesktop.230313mzl4w4u92"}, {"Cursor"}),
        editor("vscode", "Visual Studio Code", {"com.microsoft.vscode"}, {"Visual Studio Code"}),
        editor("windsurf", "Devin Desktop", {"com.exafunction.windsurf"},
               {"Devin", "Devin Desktop", "Windsurf"}),
        editor("zed", "Zed", {"dev.zed.zed"}, {"Zed"}),
        editor("antigravity", "Antigravity",
               {"com.google.antigravity", "com.google.antigravity-ide"},
               {"Antigravity", "Antigravity IDE"}),
        editor("kiro", "Kiro", {"dev.kiro.desktop"}, {"Kiro"}),
        editor("trae", "Trae", {"com.trae.app"}, {"Trae"}),

    };
    // On Linux the identifiers are the browsers' Flatpak ids, which LinuxAppIdentity also reaches
    // from their executables and desktop-file ids.
    if (host == HostSystem::macOS) {
        profiles.push_back(
            browser("chrome", "Google Chrome", {"com.google.chrome"}, {"Google Chrome"}));
        profiles.push_back(browser("arc", "Arc", {"company.thebrowser.browser"}, {"Arc"}));
        profiles.push_back(browser("safari", "Safari", {"com.apple.safari"}, {"Safari"}));
        profiles.push_back(browser("comet", "Comet", {"ai.perplexity.comet"}, {"Comet"}));
    } else {
        profiles.push_back(browser("firefox", "Firefox", {"org.mozilla.firefox"}, {"Firefox"}));
        profiles.push_back(
            browser("chromium", "Chromium", {"org.chromium.chromium"}, {"Chromium"}));
        profiles.push_back(
            browser("chrome", "Google Chrome", {"com.google.chrome"}, {"Google Chrome"}));
        profiles.push_back(
            browser("brave", "Brave", {"com.brave.browser"}, {"Brave Browser", "Brave"}));
        profiles.push_back(
            browser("edge", "Microsoft Edge", {"com.microsoft.edge"}, {"Microsoft Edge"}));
        profiles.push_back(browser("vivaldi", "Vivaldi", {"com.vivaldi.vivaldi"}, {"Vivaldi"}));
    }
    return profiles;
}

const std::set<std::string>& terminalBundleIDs() {
    static const std::set<std::string> identifiers = {
        "com.apple.terminal", "com.googlecode.iterm2",  "dev.warp.warp-stable",
        "dev.warp.warp",      "net.kovidgoyal.kitty",   "io.alacritty",
        "co.zeit.hyper",      "com.github.wez.wezterm", "com.mitchellh.ghostty",
    };
    return identifiers;
}

std::set<std::string> cliAgentNames() {
    std::set<std::string> names;
    for (const AgentProfile& profile : builtin()) {
        if (profile.kind == AgentProfile::Kind::cli) {
            names.insert(profile.displayName);
        }
    }
    return names;
}

} // namespace AgentCatalog
} // namespace nodwarden
