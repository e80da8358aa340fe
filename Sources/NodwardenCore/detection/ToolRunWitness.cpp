#include <NodwardenCore/detection/ToolRunWitness.hpp>

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/DetectionPass.hpp>
#include <NodwardenCore/hooks/HookAgents.hpp>
#include <NodwardenCore/hooks/HookConfiguration.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>

#include <algorithm>
#include <set>
#include <unordered_map>

namespace nodwarden {
namespace {

bool inTurn(AgentWorkState state) {
    return state == AgentWorkState::working || state == AgentWorkState::waiting;
}

/// Whether `wait`'s witness goes on saying so until the user answers: a record and a screen
/// change at the answer, and so do the hooks of an agent that announces it. Then what the agent
/// starts during the wait (OpenCode's `git` snapshots) is not the command asked about. A wait
/// heard only from a hook that says nothing more until the tool ends is over once the command
/// starts, so that command carries the turn.
bool standsUntilAnswered(const AgentVerdict& wait, const std::string& profileID) {
    switch (wait.source) {
    case AgentVerdictSource::statusRecord:
    case AgentVerdictSource::screen:
        return true;
    case AgentVerdictSource::hook:
    case AgentVerdictSource::hookWithoutCancel:
        return std::ranges::any_of(HookAgents::all(), [&](const HookAgent& agent) {
            return agent.profileID == profileID && !agent.answerEvents.empty();
        });
    default:
        return false;
    }
}

/// The table's child links, and the processes that belong to an agent (its own and its
/// daemons'), worked out once per pass.
class Tree {
public:
    explicit Tree(const DetectionPass& pass) {
        for (const ProcessSnapshot& row : pass.processes()) {
            children_.emplace(row.parentPID, &row);
        }
        for (const auto& [id, agent] : pass.runningAgents()) {
            for (const ProcessSnapshot& process : agent.processes) {
                agentPIDs_.insert(process.pid);
            }
        }
        // Daemons that run an agent's turns are looked for by name only for agents that have
        // them, so a pass asks the resolver about few rows.
        std::set<std::string> daemonNames;
        for (const auto& [id, agent] : pass.runningAgents()) {
            if (!agent.profile->backgroundSubcommands.empty()) {
                daemonNames.insert(agent.profile->cliProcessNames.begin(),
                                   agent.profile->cliProcessNames.end());
            }
        }
        if (daemonNames.empty()) {
            return;
        }
        for (const ProcessSnapshot& row : pass.processes()) {
            if (agentPIDs_.contains(row.pid) || !daemonNames.contains(row.displayName())) {
                continue;
            }
            const AgentProfile* profile =
                pass.resolver().findProgramForCommandPath(row.command, row.arguments);
            if (profile != nullptr && AgentResolver::isBackgroundHelper(*profile, row.arguments)) {
                daemons_.emplace(profile->id, &row);
                agentPIDs_.insert(row.pid);
            }
        }
    }

    /// Every process below `agent` (and below its daemons of the same user) that is not an
    /// agent's own: the shells its tools keep and the commands they run. Looping parent links
    /// end the walk.
    std::vector<const ProcessSnapshot*> processesBelow(const std::string& id,
                                                       const RunningAgent& agent) const {
        std::vector<const ProcessSnapshot*> pending;
        for (const ProcessSnapshot& process : agent.processes) {
            pending.push_back(&process);
        }
        const auto owner =
            agent.processes.empty() ? std::nullopt : agent.processes.front().ownerUID;
        const auto [first, last] = daemons_.equal_range(id);
        for (auto daemon = first; daemon != last; ++daemon) {
            if (!owner || !daemon->second->ownerUID || owner == daemon->second->ownerUID) {
                pending.push_back(daemon->second);
            }
        }
        std::vector<const ProcessSnapshot*> below;
        std::set<std::int32_t> visited;
        while (!pending.empty()) {
            const ProcessSnapshot* process = pending.back();
            pending.pop_back();
            if (!visited.insert(process->pid).second) {
                continue;
            }
            const auto [child, end] = children_.equal_range(process->pid);
            for (auto entry = child; entry != end; ++entry) {
                if (!agentPIDs_.contains(entry->second->pid)) {
                    below.push_back(entry->second);
                }
                pending.push_back(entry->second);
            }
        }
        return below;
    }

private:
    std::unordered_multimap<std::int32_t, const ProcessSnapshot*> children_;
    std::set<std::int32_t> agentPIDs_;
    std::multimap<std::string, const ProcessSnapshot*> daemons_;
};

} // namespace

void ToolRunWitness::amend(const DetectionPass& pass, std::map<std::string, AgentVerdict>& best,
                           const std::map<std::string, AgentWorkState>& ownWord) {
    const Date now = pass.now();
    const Tree tree(pass);
    const double threshold = pass.settings().cpuThresholdPercent();
    std::map<Key, Command> seen;
    for (const auto& [id, agent] : pass.runningAgents()) {
        const std::string& name = agent.profile->displayName;
        const auto verdict = best.find(name);
        const bool waitsNow =
            verdict != best.end() && verdict->second.state == AgentWorkState::waiting;
        const Date waitedFrom = waitsNow ? waitingSince_.try_emplace(name, now).first->second : now;
        if (!waitsNow) {
            waitingSince_.erase(name);
        }
        const auto last = lastState_.find(name);
        // CPU alone is a turn only past start-up: an agent drawing its first screen starts its
        // own helpers (a user's start-up hook) while it is busy.
        const bool startingUp =
            agent.startedAt && now - *agent.startedAt < StatusRecordDetector::startUpWindow;
        const bool lastInTurn = last != lastState_.end() && inTurn(last->second.state) &&
                                !(last->second.byCPUOnly && startingUp);
        const bool turnUnderWay =
            lastInTurn || (verdict != best.end() && inTurn(verdict->second.state));
        const auto own = ownWord.find(name);
        const bool ownWorking = own != ownWord.end() && own->second == AgentWorkState::working;
        const bool ownWaiting = own != ownWord.end() && own->second == AgentWorkState::waiting;

        std::optional<Date> claimedSince;
        double leftBehindCPU = 0;
        for (const ProcessSnapshot* process : tree.processesBelow(id, agent)) {
            // Our own hook is the agent telling us of its turn, not a command of the turn.
            if (HookConfiguration::runsOurHook(process->arguments)) {
                continue;
            }
            const Key key{process->pid, process->startTime.value_or(0)};
            const auto known = commands_.find(key);
            Command state = known != commands_.end() && known->second.agent == id
                                ? known->second
                                : Command{id, now, turnUnderWay};
            if (ownWorking) {
                state.ownWordWorked = true;
            } else if (state.ownWordWorked && !ownWaiting) {
                state.leftBehind = true;
            }
            if (state.bornInTurn && !state.leftBehind) {
                claimedSince = std::max(claimedSince.value_or(state.firstSeen), state.firstSeen);
            } else if (state.leftBehind) {
                leftBehindCPU += process->cpuPercent;
            }
            seen.emplace(key, state);
        }
        const bool busyLeftBehind = leftBehindCPU > threshold;
        const bool waitStands =
            waitsNow && (waitedFrom > claimedSince.value_or(now) ||
                         standsUntilAnswered(verdict->second, agent.profile->id));
        if (claimedSince && !waitStands) {
            best.insert_or_assign(
                name, AgentVerdict{name, AgentWorkState::working, AgentVerdictSource::toolRun});
        } else if (busyLeftBehind &&
                   (verdict == best.end() || verdict->second.state == AgentWorkState::idle)) {
            best.insert_or_assign(
                name, AgentVerdict{name, AgentWorkState::working, AgentVerdictSource::leftBehind});
        }
    }
    // Commands no longer in the table are forgotten; a pid reused starts afresh.
    commands_ = std::move(seen);
    std::erase_if(waitingSince_, [&](const auto& entry) {
        const auto verdict = best.find(entry.first);
        return verdict == best.end();
    });
}

void ToolRunWitness::remember(const std::vector<ActivitySignal>& merged) {
    lastState_.clear();
    for (const ActivitySignal& signal : merged) {
        if (signal.appName) {
            lastState_[*signal.appName] = {signal.waitingForUser           ? AgentWorkState::waiting
                                           : isActiveWork(signal.strength) ? AgentWorkState::working
                                                                           : AgentWorkState::idle,
                                           signal.decidedBy == DecidingWitness::cpu};
        }
    }
}

} // namespace nodwarden
