#include <NodwardenCore/StatusRecordDetector.hpp>

#include <NodwardenCore/AgentResolver.hpp>
#include <NodwardenCore/Models.hpp>

#include <algorithm>
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

} // namespace

bool RunningAgent::mayHaveWritten(std::optional<Date> written) const {
    return startedAt && written && *written >= *startedAt - clockSlack;
}

std::map<std::string, RunningAgent> runningAgents(const AgentResolver& resolver,
                                                  const std::vector<ProcessSnapshot>& processes) {
    std::map<std::string, RunningAgent> agents;
    std::unordered_map<std::int32_t, std::int32_t> parents;
    std::set<std::int32_t> agentPIDs;
    for (const ProcessSnapshot& row : processes) {
        parents.emplace(row.pid, row.parentPID);
        const AgentProfile* profile =
            resolver.findProfileForCommandPath(row.command, row.arguments);
        if (profile == nullptr || profile->kind != AgentProfile::Kind::cli) {
            continue;
        }
        RunningAgent& agent = agents[profile->id];
        agent.profile = profile;
        agent.processes.push_back(row);
        agentPIDs.insert(row.pid);
    }
    for (auto& [id, agent] : agents) {
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

StatusRecordDetector::StatusRecordDetector(std::vector<std::unique_ptr<AgentStatusReading>> readers)
    : readers_(std::move(readers)) {}

std::vector<AgentVerdict>
StatusRecordDetector::detectVerdicts(const GuardSettings& settings,
                                     const std::vector<ProcessSnapshot>& processes, Date now) {
    std::vector<AgentVerdict> verdicts;
    if (!settings.statusRecordDetectionEnabled) {
        return verdicts;
    }
    const AgentResolver resolver = AgentResolver::make(settings);
    const auto agents = runningAgents(resolver, processes);
    for (const auto& reader : readers_) {
        const auto agent = agents.find(std::string(reader->profileID()));
        if (agent == agents.end()) {
            continue; // nothing is read for an agent that does not run
        }
        if (const auto state = reader->read(agent->second, now)) {
            verdicts.push_back(
                {agent->second.profile->displayName, *state, AgentVerdictSource::statusRecord});
        }
    }
    return verdicts;
}

} // namespace nodwarden
