#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/AgentVerdict.hpp>
#include <NodwardenCore/hooks/HookAgents.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// One event an agent's command hook handed over (`stayloom hook AGENT EVENT`): which agent, the
/// event's name and session, and the agent's process that ran the hook. Never a prompt.
struct HookEvent {
    /// The agent's word in `HookAgents` ("claude", "codex", …).
    std::string agent;
    std::string event;
    /// Empty when the hook could not read it in time; such an event goes to its sender's turns.
    std::string session;
    std::int32_t pid = 0;
    /// The sender's start in clock ticks since boot, as the process table gives it: with the pid
    /// it names one process even after the pid is reused.
    std::uint64_t startTime = 0;
    /// The payload's `notification_type` (a word such as "permission_prompt"); empty for none.
    std::string kind = {};
    /// When the hook's own process started, in the same clock ticks: each hook is a process of
    /// its own, so one fired later can arrive first (OpenCode asks for a permission 0.3 s after
    /// a tool's start). Events of a turn are taken in the order they were fired; 0 is unknown,
    /// taken as it arrives.
    std::uint64_t firedAt = 0;
};

/// The agents' own word on their turns, pushed by their hooks: a turn's start makes its agent
/// working until the turn's end, an interrupt, a failure or the session's end arrives, or until
/// the agent's process that sent it is gone from the process table. Where the agent's hooks hear
/// nothing of a cancelled turn, the verdict is only as good as a screen (`hookWithoutCancel`), so a
/// readable screen or the agent's own record decides over it, and it stands only while the agent's
/// process tree shows a sign of work: where nothing else is read, a cancelled turn still ends.
/// A question the agent puts to its user (an approval) makes it waiting, a verdict of the same
/// quality as its turn, until its tool ends, the user's answer or the turn's end is announced, or
/// its sender is gone; a wait is never dropped for being quiet, since waiting is quiet.
/// Events arrive on any thread (the control socket's); verdicts are asked on the detection queue,
/// one pass at a time.
class HookWitness final : public AgentVerdictDetecting {
public:
    /// Turns remembered at once; beyond it a new turn is not taken, so no peer can make the
    /// store grow without bound.
    static constexpr std::size_t maxTurns = 256;

    /// Takes one event; false when its agent is not one that has hooks.
    bool record(const HookEvent& event);

    using AgentVerdictDetecting::detectVerdicts;
    std::vector<AgentVerdict> detectVerdicts(const DetectionPass& pass) override;

private:
    /// A turn under way: the agent's profile, its session and the process that announced it.
    using Turn = std::tuple<std::string, std::string, std::int32_t, std::uint64_t>;
    /// What a turn's verdict rests on and whether the agent waits for its user.
    struct Phase {
        AgentVerdictSource source = AgentVerdictSource::hook;
        bool waiting = false;
        /// The latest `firedAt` taken for the turn.
        std::uint64_t firedAt = 0;
    };
    using Standing = std::map<std::string, Phase>;

    /// Takes `what` for one turn; the lock is held.
    void take(Turn turn, HookTurn what, AgentVerdictSource source, std::uint64_t firedAt);

    /// The agents with a turn whose sender still runs as that agent; forgets the others' turns.
    /// An agent with a waiting session waits, unless another of its sessions works.
    Standing turnsStillUnderWay(const DetectionPass& pass);
    void dropQuietTurnsWithoutCancel(Standing& standing, const DetectionPass& pass);

    std::mutex mutex_;
    std::map<Turn, Phase> turns_;
    /// When the turns that ended were ended, so an event of theirs arriving late does not start
    /// them again; at most `maxTurns`.
    std::map<Turn, std::uint64_t> ended_;
    /// When each agent with a turn its hooks cannot end last showed a sign of work; touched only
    /// by the passes.
    std::map<std::string, Date> lastSignOfWork_;
};

} // namespace nodwarden
