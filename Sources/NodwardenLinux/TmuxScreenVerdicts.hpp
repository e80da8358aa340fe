#pragma once

#include <NodwardenCore/detection/AgentVerdict.hpp>
#include <NodwardenLinux/TmuxPaneReader.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace nodwarden::linuxplatform {

/// Verdicts from tmux panes: a pane whose processes include exactly one agent is that agent's
/// screen; a working phrase there means working, a pane read without one means idle.
///
/// The process table is looked at first: without a tmux server that has an agent below it, no
/// child command runs. Governed by the on-screen text switch. Remembers which servers failed, so
/// one that hangs costs one time-out per back-off period rather than one per pass; calls must not
/// overlap (the program makes them on its detection queue). The panes' text is never kept.
///
/// A steady screen costs no command: the servers are asked for their panes only when a pane with
/// an agent is one this object has not listed yet (a new pane, a restarted server), and a pane is
/// read again only when its terminal was written to since the step of its last reading, or its
/// agent changed; otherwise its last verdict (a yes or no, never its text) stands.
class TmuxScreenVerdicts final : public AgentVerdictDetecting {
public:
    /// Seconds a server that could not be asked is left alone.
    static constexpr TimeInterval failedServerBackOff = 30;

    /// Only rows owned by `ownUID` (normally our own user) count: another user's tmux servers and
    /// agents are not ours to read, nor to judge idle or working.
    explicit TmuxScreenVerdicts(TmuxPaneReader reader, std::uint32_t ownUID = ::getuid());

    using AgentVerdictDetecting::detectVerdicts;
    std::vector<AgentVerdict> detectVerdicts(const DetectionPass& pass) override;

    /// Whether a process table row is a tmux server (or client: a client has no children).
    static bool isTmuxProcess(const ProcessSnapshot& process);

private:
    /// A pane's first process, by pid and start time: a reused pid is another pane.
    using PaneRoot = std::pair<std::int32_t, std::uint64_t>;
    struct ListedPane {
        std::filesystem::path socket;
        TmuxPane pane;
    };
    struct PaneReading {
        std::string agent;
        bool working = false;
        bool waiting = false;
        /// Unix time on the system clock, which the terminals' write times follow.
        double readAt = 0;
    };

    bool isBackingOff(const std::filesystem::path& socket, Date now) const;
    void noteOutcome(const std::filesystem::path& socket, bool failed, Date now);
    /// Lists the panes of every server not backing off; false when a server could not be asked.
    bool listServers(const std::vector<std::filesystem::path>& sockets,
                     const std::map<std::int32_t, std::uint64_t>& startTimes, Date now);
    bool needsReading(const PaneRoot& root, const ListedPane& listed, const std::string& agent,
                      double wallNow) const;

    TmuxPaneReader reader_;
    std::uint32_t ownUID_;
    std::map<std::string, Date> retryAt_;
    std::map<PaneRoot, ListedPane> listed_;
    /// Panes with an agent that no server of ours listed (a server on another socket folder).
    std::set<PaneRoot> unlisted_;
    std::map<PaneRoot, PaneReading> readings_;
};

} // namespace nodwarden::linuxplatform
