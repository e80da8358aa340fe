#include <NodwardenCore/detection/DetectionPass.hpp>

#include <NodwardenCore/detection/AgentVerdict.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <set>
#include <utility>

namespace nodwarden {
namespace {

/// Start times come from whole-second boot times and clock ticks, record times from
/// millisecond clocks.
constexpr TimeInterval clockSlack = 1.0;

/// Whether a process of any agent runs above `pid`. Looping parent links end the walk.
bool hasAgentAncestor(std::int32_t pid, const std::vector<ProcessSnapshot>& processes,
                      const ProcessTree& tree, const std::set<std::int32_t>& agentPIDs) {
    std::set<std::int32_t> visited;
    auto row = tree.rowOf(pid);
    while (row) {
        const std::int32_t parent = processes[*row].parentPID;
        if (parent <= 1 || !visited.insert(parent).second) {
            return false;
        }
        if (agentPIDs.contains(parent)) {
            return true;
        }
        row = tree.rowOf(parent);
    }
    return false;
}

/// The CPU share of the processes of `roots` and all their descendants, each process counted
/// once; looping parent links end the walk.
double treeCPUPercent(const std::vector<std::size_t>& roots,
                      const std::vector<ProcessSnapshot>& processes, const ProcessTree& tree) {
    double total = 0;
    std::set<std::int32_t> visited;
    std::vector<std::size_t> pending(roots.begin(), roots.end());
    while (!pending.empty()) {
        const ProcessSnapshot& process = processes[pending.back()];
        pending.pop_back();
        if (!visited.insert(process.pid).second) {
            continue;
        }
        total += process.cpuPercent;
        if (const auto row = tree.rowOf(process.pid)) {
            const auto children = tree.childrenOf(*row);
            pending.insert(pending.end(), children.begin(), children.end());
        }
    }
    return total;
}

/// The watched agents that run in `processes`, whose rows resolved to `resolved`; `tree` is
/// asked only when an agent runs.
template <typename Tree>
std::map<std::string, RunningAgent> runningAgentsIn(const std::vector<ProcessSnapshot>& processes,
                                                    const std::vector<ResolvedProcess>& resolved,
                                                    Tree tree) {
    std::map<std::string, RunningAgent> agents;
    std::map<std::string, std::vector<std::size_t>> rowsByAgent;
    std::set<std::int32_t> agentPIDs;
    for (std::size_t row = 0; row < processes.size(); ++row) {
        const AgentProfile* profile = resolved[row].profile;
        if (profile == nullptr || profile->kind != AgentProfile::Kind::cli) {
            continue;
        }
        RunningAgent& agent = agents[profile->id];
        agent.profile = profile;
        agent.processes.push_back(processes[row]);
        agent.runsOneShot = agent.runsOneShot || resolved[row].runsOneShot;
        rowsByAgent[profile->id].push_back(row);
        agentPIDs.insert(processes[row].pid);
    }
    if (agents.empty()) {
        return agents;
    }
    const ProcessTree& links = tree();
    for (auto& [id, agent] : agents) {
        agent.treeCPUPercent = treeCPUPercent(rowsByAgent[id], processes, links);
        bool everyStartKnown = true;
        for (const ProcessSnapshot& process : agent.processes) {
            if (!hasAgentAncestor(process.pid, processes, links, agentPIDs)) {
                ++agent.sessions;
            }
            if (!process.startedAt) {
                everyStartKnown = false;
            } else if (!agent.startedAt || *process.startedAt < *agent.startedAt) {
                agent.startedAt = process.startedAt;
            }
        }
        if (!everyStartKnown) {
            agent.startedAt = std::nullopt; // an unknown start could be the earliest
        }
    }
    return agents;
}

} // namespace

bool RunningAgent::mayHaveWritten(std::optional<Date> written) const {
    return startedAt && written && *written >= *startedAt - clockSlack;
}

std::map<std::string, RunningAgent> runningAgents(const AgentResolver& resolver,
                                                  const std::vector<ProcessSnapshot>& processes) {
    const auto resolved = resolveProcesses(resolver, {}, processes);
    std::optional<ProcessTree> tree;
    return runningAgentsIn(processes, resolved,
                           [&]() -> const ProcessTree& { return tree.emplace(processes); });
}

DetectionPass::DetectionPass(const GuardSettings& settings,
                             const std::vector<ProcessSnapshot>& processes, Date now)
    : settings_(settings), processes_(processes), now_(now),
      resolver_(AgentResolver::shared(settings)),
      resolved_(resolveProcesses(*resolver_, settings.targetApps, processes)) {}

DetectionPass::DetectionPass(const GuardSettings& settings,
                             const std::vector<ProcessSnapshot>& processes, Date now,
                             ProcessResolutions& memory)
    : settings_(settings), processes_(processes), now_(now),
      resolver_(AgentResolver::shared(settings)),
      resolved_(memory.resolve(resolver_, settings.targetApps, processes)) {}

const ProcessTree& DetectionPass::tree() const {
    if (!tree_) {
        tree_.emplace(processes_);
    }
    return *tree_;
}

const std::map<std::string, RunningAgent>& DetectionPass::runningAgents() const {
    if (!agents_) {
        agents_ = runningAgentsIn(processes_, resolved_,
                                  [this]() -> const ProcessTree& { return tree(); });
    }
    return *agents_;
}

std::vector<AgentVerdict>
AgentVerdictDetecting::detectVerdicts(const GuardSettings& settings,
                                      const std::vector<ProcessSnapshot>& processes, Date now) {
    return detectVerdicts(DetectionPass(settings, processes, now));
}

} // namespace nodwarden
