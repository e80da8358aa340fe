#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

struct GuardSettings;

/// The agents watched under the user's settings, and the lookups that attribute a running
/// application or process to one of them. Every lookup walks `profiles` in order and takes the
/// first hit, so the order is a priority order.
struct AgentResolver {
    /// Receives the name of an application bundle that carries a known agent program without
    /// being that agent, and the program's name.
    using UnmatchedHostCallback =
        std::function<void(const std::string& hostBundle, const std::string& binary)>;

    AgentResolver() = default;
    explicit AgentResolver(std::vector<AgentProfile> watched);

    /// The built-in catalog without the agents the user switched off and, unless enabled, without
    /// browsers; catalog order is kept.
    static AgentResolver make(const GuardSettings& settings);
    /// `make(settings)`, built once for each choice of agents and browsers and shared from then
    /// on: detection asks for it several times a pass, and the catalog changes only with the
    /// settings. Safe from any thread.
    static std::shared_ptr<const AgentResolver> shared(const GuardSettings& settings);

    /// The first profile that lists `bundleID`, compared without regard to case.
    std::optional<AgentProfile> profileForBundleID(std::string_view bundleID) const;

    /// The agent a process belongs to, from its executable path and its argument line as the
    /// process table shows it (normally starting with the program name). A known agent program
    /// inside an unknown application bundle is not credited to the agent; the host is reported
    /// once per run instead.
    std::optional<AgentProfile> profileForCommandPath(std::string_view path,
                                                      std::string_view arguments) const;
    /// `profileForCommandPath` without the copy: the matching entry of `profiles`, or null. The
    /// pointer is valid while `profiles` is left unchanged.
    const AgentProfile* findProfileForCommandPath(std::string_view path,
                                                  std::string_view arguments) const;

    /// `findProfileForCommandPath` counting an agent's background helpers as the agent: a daemon
    /// that runs the agent's turns (Codex's app-server) speaks for it.
    const AgentProfile* findProgramForCommandPath(std::string_view path,
                                                  std::string_view arguments) const {
        return matchCommandPath(path, arguments);
    }

    /// Whether a process of `profile` with this argument line is one of its background helpers
    /// (a daemon that outlives the agent), which belongs to no session.
    static bool isBackgroundHelper(const AgentProfile& profile, std::string_view arguments);

    /// Whether a process of `profile` with this argument line answers one prompt and exits
    /// (`claude -p`, `codex exec`): one of its one-shot options anywhere after the program's
    /// name, or one of its one-shot subcommands right after it.
    static bool isOneShotRun(const AgentProfile& profile, std::string_view arguments);

    /// The profiles whose phrases are looked for in terminal windows, in order.
    std::vector<AgentProfile> terminalScanProfiles() const;

    /// The name, without ".app", of the outermost application bundle on `path`.
    static std::optional<std::string> appBundleName(std::string_view path);

    /// The last non-empty "/"-separated piece of `path`; `path` itself when it has none.
    static std::string basename(std::string_view path);

    /// Script interpreters and launchers whose arguments name the program really run.
    static const std::set<std::string>& interpreters();

    /// The callback for unmatched hosts (empty when none is installed); shared by all resolvers.
    static UnmatchedHostCallback onUnmatchedHostBundle();
    /// Installs (or, with an empty function, removes) the callback for unmatched hosts.
    static void setOnUnmatchedHostBundle(UnmatchedHostCallback callback);

    std::vector<AgentProfile> profiles;

    bool operator==(const AgentResolver&) const = default;

private:
    const AgentProfile* matchCommandPath(std::string_view path, std::string_view arguments) const;
    const AgentProfile* firstWithProcessName(std::string_view name) const;
    const AgentProfile* firstWithPathMarkerIn(std::string_view foldedLine) const;
    const AgentProfile* firstWithAppBundleName(std::string_view host) const;
    std::optional<std::string> knownProgramCarriedBy(std::string_view path,
                                                     std::string_view arguments) const;
};

} // namespace nodwarden
