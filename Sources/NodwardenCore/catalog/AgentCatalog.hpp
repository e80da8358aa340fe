#pragma once

#include <NodwardenCore/Export.hpp>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// An operating system the program runs on, as far as the catalog tells them apart.
enum class HostSystem { macOS, linux };

/// Everything the detectors know about one AI agent: how to recognise it, how far to trust each
/// kind of evidence for it, its on-screen phrases and the session files it writes.
struct AgentProfile {
    /// What sort of program the agent is.
    enum class Kind { desktopAI, editor, browser, cli };

    /// Stable lower-case identifier; the key of per-agent settings.
    std::string id;
    /// Name shown to the user and the key under which detector results are merged.
    std::string displayName;
    Kind kind = Kind::cli;
    /// The agent's own application bundle identifiers, compared without regard to case.
    std::vector<std::string> bundleIDs;
    /// An installed application whose icon stands for the agent.
    std::optional<std::string> iconBundleID;
    /// Names of the agent's application bundles, without the ".app" ending.
    std::vector<std::string> appBundleNames;
    /// Executable names of a command-line agent.
    std::vector<std::string> cliProcessNames;
    /// Path fragments that identify the agent anywhere in a command line (case-insensitive).
    std::vector<std::string> cliPathMarkers;
    /// Whether CPU use of the agent's process tree counts as work.
    bool trustsCPUSignal = false;
    /// Whether the agent's phrases are looked for in terminal windows.
    bool scanTerminalText = false;
    /// Whether only phrases containing a space count in the agent's window text.
    bool requireMultiWordPhrases = false;
    std::vector<std::string> activePhrases;
    std::vector<std::string> idlePhrases;
    /// Home-relative path patterns of files the agent rewrites while it works.
    std::vector<std::string> sessionActivityGlobs;
    /// True when other programs may write the same session files.
    bool sessionGlobsSharedWithOtherApps = false;
    /// Home-relative path patterns of one-file-per-session files.
    std::vector<std::string> sessionCountGlobs;
    /// Subcommands that start a background helper of the agent rather than the agent itself (the
    /// word after the program's name): such a process outlives sessions and is neither a session
    /// nor presence on its own.
    std::vector<std::string> backgroundSubcommands = {};
    /// Arguments that make a run answer one prompt and exit, as scripts run the agent: options
    /// ("-p", matched anywhere after the program's name, also as "-p=…") and subcommands
    /// ("exec", matched right after it). Such a run works for as long as it runs.
    std::vector<std::string> oneShotArguments = {};
    /// Options ("--input-format=stream-json", matched as one word or as two) that keep a run with
    /// one-shot arguments open for further prompts, as an editor's SDK session fed over its
    /// input: such a run is no one-shot.
    std::vector<std::string> promptStreamArguments = {};
    /// The systems the agent's own program is made for; empty when it runs on all of them.
    /// Elsewhere, files matching its session patterns were written by some other program.
    std::vector<HostSystem> hostSystems = {};
    /// What its screen shows while it asks its user something and waits (an approval prompt).
    std::vector<std::string> questionPhrases = {};

    bool operator==(const AgentProfile&) const = default;
};

/// The stored and shown form of a kind ("desktopAI", "editor", "browser", "cli").
std::string_view rawValue(AgentProfile::Kind kind);

/// The kind whose raw value is exactly `raw`; none for any other spelling.
std::optional<AgentProfile::Kind> agentKindFromRawValue(std::string_view raw);

/// The fixed, built-in list of known agents.
namespace AgentCatalog {

/// The system this library was built for.
HostSystem currentHostSystem();

/// The built-in profiles for `host` in priority order (every lookup takes the first match): 21
/// agents, then the browsers made for `host` (Google Chrome, Arc, Safari and Comet on macOS;
/// Firefox, Chromium, Google Chrome, Brave, Microsoft Edge and Vivaldi on Linux). Built afresh
/// on each call.
std::vector<AgentProfile> builtin(HostSystem host);

/// `builtin` for the system this library was built for.
std::vector<AgentProfile> builtin();

/// Whether the agent's own program is made for `host`; one that names no system is made for all.
bool isMadeFor(const AgentProfile& profile, HostSystem host);

/// The agents a person can choose to watch on this system: `builtin()` without those whose own
/// program is not made for it.
std::vector<AgentProfile> offered();

/// Lower-case bundle identifiers of terminal applications whose windows are searched for
/// command-line agents' phrases.
const std::set<std::string>& terminalBundleIDs();

/// Display names of the command-line agents of `builtin`.
std::set<std::string> cliAgentNames();

} // namespace AgentCatalog
} // namespace nodwarden
