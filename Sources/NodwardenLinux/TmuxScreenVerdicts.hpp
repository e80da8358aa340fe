#pragma once

#include <NodwardenCore/AgentVerdict.hpp>
#include <NodwardenLinux/TmuxPaneReader.hpp>

#include <cstdint>
#include <map>
#include <string>
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
class TmuxScreenVerdicts final : public AgentVerdictDetecting {
public:
    /// Seconds a server that could not be asked is left alone.
    static constexpr TimeInterval failedServerBackOff = 30;

    /// Only rows owned by `ownUID` (normally our own user) count: another user's tmux servers and
    /// agents are not ours to read, nor to judge idle or working.
    explicit TmuxScreenVerdicts(TmuxPaneReader reader, std::uint32_t ownUID = ::getuid());

    std::vector<AgentVerdict> detectVerdicts(const GuardSettings& settings,
                                             const std::vector<ProcessSnapshot>& processes,
                                             Date now) override;

    /// Whether a process table row is a tmux server (or client: a client has no children).
    static bool isTmuxProcess(const ProcessSnapshot& process);

private:
    TmuxPaneReader reader_;
    std::uint32_t ownUID_;
    std::map<std::string, Date> retryAt_;
};

} // namespace nodwarden::linuxplatform
