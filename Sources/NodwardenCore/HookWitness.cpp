#include <NodwardenCore/HookWitness.hpp>

#include <NodwardenCore/AgentResolver.hpp>
#include <NodwardenCore/HookAgents.hpp>

#include <algorithm>
#include <set>
#include <utility>

namespace nodwarden {

bool HookWitness::record(const HookEvent& event) {
    const HookAgent* agent = HookAgents::find(event.agent);
    if (agent == nullptr) {
        return false;
    }
    Turn turn{agent->profileID, event.session, event.pid, event.startTime};
    const std::lock_guard lock(mutex_);
    switch (HookAgents::turnOf(*agent, event.event)) {
    case HookTurn::starts:
        if (turns_.size() < maxTurns) {
            turns_.insert(std::move(turn));
        }
        break;
    case HookTurn::ends:
        turns_.erase(turn);
        break;
    case HookTurn::other:
        break;
    }
    return true;
}

std::vector<AgentVerdict> HookWitness::detectVerdicts(const GuardSettings& settings,
                                                      const std::vector<ProcessSnapshot>& processes,
                                                      Date) {
    std::set<std::pair<std::int32_t, std::uint64_t>> timed;
    std::set<std::int32_t> untimed;
    for (const ProcessSnapshot& process : processes) {
        if (process.startTime) {
            timed.emplace(process.pid, *process.startTime);
        } else {
            untimed.insert(process.pid);
        }
    }
    std::set<std::string> workingProfiles;
    {
        const std::lock_guard lock(mutex_);
        // A sender that has gone takes its turns with it: an agent killed mid-turn sends no end.
        std::erase_if(turns_, [&](const Turn& turn) {
            const auto& [profile, session, pid, startTime] = turn;
            return !timed.contains({pid, startTime}) && !untimed.contains(pid);
        });
        for (const Turn& turn : turns_) {
            workingProfiles.insert(std::get<0>(turn));
        }
    }
    std::vector<AgentVerdict> verdicts;
    if (workingProfiles.empty()) {
        return verdicts;
    }
    const AgentResolver resolver = AgentResolver::make(settings);
    for (const AgentProfile& profile : resolver.profiles) {
        if (workingProfiles.contains(profile.id)) {
            verdicts.push_back(
                {profile.displayName, AgentWorkState::working, AgentVerdictSource::hook});
        }
    }
    return verdicts;
}

} // namespace nodwarden
