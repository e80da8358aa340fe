#include <NodwardenCore/detection/DetectionPass.hpp>

#include <NodwardenCore/detection/AgentVerdict.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <set>
#include <unordered_map>
#include <utility>

namespace nodwarden {
namespace {

/// Start times come from whole-second boot times and clock ticks, record times from
/// millisecond clocks.
constexpr TimeInterval clockSlack = 1.0;

/// Whether a process of any agent runs above `pid`. Looping parent links end the walk.
bool hasAgentAncestor(std::int32_t pid,
                      const std::unordered_map<std::int32_t, std::int32_t>& parents,
                      const std::set<std::int32_t>& agentPIDs) {
    std::set<std::int32_t> visited;
    auto parent = parents.find(pid);
    while (parent != parents.end() && parent->second > 1 && visited.insert(parent->second).second) {
        if (agentPIDs.contains(parent->second)) {
            return true;
        }
        parent = parents.find(parent->second);
    }
    return false;
}

/// The CPU share of `roots` and all their descendants, each process counted once; looping parent
/// links end the walk.
double
treeCPUPercent(const std::vector<ProcessSnapshot>& roots,
               const std::unordered_multimap<std::int32_t, const ProcessSnapshot*>& children) {
    double total = 0;
    std::set<std::int32_t> visited;
    std::vector<const ProcessSnapshot*> pending;
    pending.reserve(roots.size());
    for (const ProcessSnapshot& root : roots) {
        pending.push_back(&root);
    }
    while (!pending.empty()) {
        const ProcessSnapshot* process = pending.back();
        pending.pop_back();
        if (!visited.insert(process->pid).second) {
            continue;
        }
        total += process->cpuPercent;
        const auto [first, last] = children.equal_range(process->pid);
        for (auto child = first; child != last; ++child) {
            pending.push_back(child->second);
        }
    }
    return total;
}

} // namespace

bool RunningAgent::mayHaveWritten(std::optional<Date> written) const {
    return startedAt && written && *written >= *startedAt - clockSlack;
}

std::map<std::string, RunningAgent> runningAgents(const AgentResolver& resolver,
                                                  const std::vector<ProcessSnapshot>& processes) {
    std::map<std::string, RunningAgent> agents;
    std::unordered_map<std::int32_t, std::int32_t> parents;
    std::unordered_multimap<std::int32_t, const ProcessSnapshot*> children;
    std::set<std::int32_t> agentPIDs;
    for (const ProcessSnapshot& row : processes) {
        parents.emplace(row.pid, row.parentPID);
        children.emplace(row.parentPID, &row);
        const AgentProfile* profile =
            resolver.findProfileForCommandPath(row.command, row.arguments);
        if (profile == nullptr || profile->kind != AgentProfile::Kind::cli) {
            continue;
        }
        RunningAgent& agent = agents[profile->id];
        agent.profile = profile;
        agent.processes.push_back(row);
        agent.runsOneShot =
            agent.runsOneShot || AgentResolver::isOneShotRun(*profile, row.arguments);
        agentPIDs.insert(row.pid);
    }
    for (auto& [id, agent] : agents) {
        agent.treeCPUPercent = treeCPUPercent(agent.processes, children);
        bool everyStartKnown = true;
        for (const ProcessSnapshot& process : agent.processes) {
            if (!hasAgentAncestor(process.pid, parents, agentPIDs)) {
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

DetectionPass::DetectionPass(const GuardSettings& settings,
                             const std::vector<ProcessSnapshot>& processes, Date now)
    : settings_(settings), processes_(processes), now_(now),
      resolver_(AgentResolver::make(settings)) {}

const std::map<std::string, RunningAgent>& DetectionPass::runningAgents() const {
    if (!agents_) {
        agents_ = nodwarden::runningAgents(resolver_, processes_);
    }
    return *agents_;
}

std::vector<AgentVerdict>
AgentVerdictDetecting::detectVerdicts(const GuardSettings& settings,
                                      const std::vector<ProcessSnapshot>& processes, Date now) {
    return detectVerdicts(DetectionPass(settings, processes, now));
}

} // namespace nodwarden
