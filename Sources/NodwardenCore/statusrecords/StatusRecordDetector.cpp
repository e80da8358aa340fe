#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>

#include <NodwardenCore/model/GuardSettings.hpp>

#include <utility>

namespace nodwarden {

StatusRecordDetector::StatusRecordDetector(std::vector<std::unique_ptr<AgentStatusReading>> readers)
    : readers_(std::move(readers)) {}

std::vector<AgentVerdict> StatusRecordDetector::detectVerdicts(const DetectionPass& pass) {
    std::vector<AgentVerdict> verdicts;
    if (!pass.settings().statusRecordDetectionEnabled) {
        return verdicts;
    }
    const Date now = pass.now();
    const auto& agents = pass.runningAgents();
    for (const auto& [id, agent] : agents) {
        if (agent.runsOneShot) {
            verdicts.push_back({agent.profile->displayName, AgentWorkState::working,
                                AgentVerdictSource::oneShotRun});
        }
    }
    for (const auto& reader : readers_) {
        const auto agent = agents.find(std::string(reader->profileID()));
        if (agent == agents.end() || agent->second.runsOneShot) {
            continue; // nothing is read for an agent that does not run or whose run decided
        }
        const std::string& name = agent->second.profile->displayName;
        if (const auto state = reader->read(agent->second, now)) {
            verdicts.push_back({name, *state, reader->source()});
        } else if (agent->second.startedAt && now - *agent->second.startedAt < startUpWindow &&
                   reader->recordsEveryTurn()) {
            verdicts.push_back({name, AgentWorkState::idle, AgentVerdictSource::startUp});
        }
    }
    return verdicts;
}

} // namespace nodwarden
