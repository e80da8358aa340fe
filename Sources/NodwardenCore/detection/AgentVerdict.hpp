#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <string>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class DetectionPass;
struct GuardSettings;

/// What a definite witness says about one running agent. `waiting`: it asks its user something
/// (an approval, a question) and does nothing until the answer comes; not work.
enum class AgentWorkState { working, idle, waiting };

/// Which witness spoke.
enum class AgentVerdictSource {
    /// A state the agent writes about itself (Claude Code's `status`, Copilot's `working`,
    /// OpenCode's completion time, Codex's task events).
    statusRecord,
    /// A screen (an accessible terminal window, a tmux pane) read and attributed to the agent.
    screen,
    /// The agent's chat as it stands: whose record came last. A cancelled turn leaves it as a
    /// running one does.
    conversation,
    /// A run started to answer one prompt and exit (`claude -p`, `codex exec`): it works for as
    /// long as it runs.
    oneShotRun,
    /// A young process that keeps its turns where they are read and has no record of one yet:
    /// what it does on its own while starting is not work.
    startUp,
    /// A sleep lock the agent took itself, for a turn or a keep-alive the user asked for.
    lock,
    /// A turn the agent announced to its command hook and has not yet ended.
    hook,
    /// The same from an agent whose hooks hear nothing when a turn is cancelled: as good as a
    /// screen, so a readable screen that shows the agent idle, or its own record, decides.
    hookWithoutCancel,
    /// A command the agent started through its own tool during a turn and that still runs below
    /// it (for Codex, below its app-server daemon): the turn lasts while it runs.
    toolRun,
    /// A process a turn left running after it ended (a dev server), busy above the work
    /// threshold.
    leftBehind,
};

/// How far a verdict can be trusted, weakest first. A verdict of a higher quality decides over
/// any of a lower one; among equals the witness asked first decides. A hook's turn events (where
/// a cancel ends a turn too) and a sleep lock the agent holds are the agent's own statement as a
/// status record is.
enum class EvidenceQuality { inferred, observed, stated };

constexpr EvidenceQuality qualityOf(AgentVerdictSource source) {
    switch (source) {
    case AgentVerdictSource::statusRecord:
    case AgentVerdictSource::oneShotRun:
    case AgentVerdictSource::lock:
    case AgentVerdictSource::hook:
    case AgentVerdictSource::toolRun:
        return EvidenceQuality::stated;
    case AgentVerdictSource::screen:
    case AgentVerdictSource::hookWithoutCancel:
        return EvidenceQuality::observed;
    case AgentVerdictSource::conversation:
    case AgentVerdictSource::startUp:
    case AgentVerdictSource::leftBehind:
        return EvidenceQuality::inferred;
    }
    return EvidenceQuality::inferred;
}

/// The witness `status --json` names for a verdict of `source`.
constexpr DecidingWitness witnessOf(AgentVerdictSource source) {
    switch (source) {
    case AgentVerdictSource::statusRecord:
    case AgentVerdictSource::conversation:
        return DecidingWitness::record;
    case AgentVerdictSource::screen:
        return DecidingWitness::screen;
    case AgentVerdictSource::oneShotRun:
    case AgentVerdictSource::toolRun:
        return DecidingWitness::run;
    case AgentVerdictSource::startUp:
        return DecidingWitness::startUp;
    case AgentVerdictSource::lock:
        return DecidingWitness::lock;
    case AgentVerdictSource::hook:
    case AgentVerdictSource::hookWithoutCancel:
        return DecidingWitness::hook;
    case AgentVerdictSource::leftBehind:
        return DecidingWitness::cpu;
    }
    return DecidingWitness::cpu;
}

/// A finding about one agent from evidence that speaks for it alone: its own status record, its
/// chat, its arguments, or a screen (an accessible terminal window, a tmux pane) that could be read
/// and is attributed to the agent's process. Unlike an `ActivitySignal`, an idle verdict is
/// information: it says that the agent's CPU and file times must not be read as work.
struct AgentVerdict {
    /// Display name of the agent, as in `AgentProfile::displayName` and `ActivitySignal::appName`.
    std::string appName;
    AgentWorkState state = AgentWorkState::idle;
    AgentVerdictSource source = AgentVerdictSource::statusRecord;

    EvidenceQuality quality() const { return qualityOf(source); }

    bool operator==(const AgentVerdict&) const = default;
};

/// A witness that can give definite verdicts. Returns at most one verdict per agent; an agent it
/// cannot speak for (no record, no readable screen, a stale record) is simply absent. Never keeps,
/// logs or returns the text it read.
class AgentVerdictDetecting {
public:
    virtual ~AgentVerdictDetecting() = default;

    /// Verdicts for the agents the pass watches, given its process table. The pass works out
    /// once, for every witness, which agents run.
    virtual std::vector<AgentVerdict> detectVerdicts(const DetectionPass& pass) = 0;

    /// The agents of the last pass whose evidence lies where this witness may not look (a
    /// container this user may not enter), so that only their CPU can speak; by display name.
    virtual std::vector<std::string> outOfReach() const { return {}; }

    /// The same over a pass of its own (a witness asked alone; derived classes bring it in with
    /// `using`).
    std::vector<AgentVerdict> detectVerdicts(const GuardSettings& settings,
                                             const std::vector<ProcessSnapshot>& processes,
                                             Date now);
};

} // namespace nodwarden
