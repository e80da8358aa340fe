#include <NodwardenCore/hooks/HookWitness.hpp>

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/DetectionPass.hpp>
#include <NodwardenCore/hooks/HookAgents.hpp>
#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace nodwarden {

bool HookWitness::record(const HookEvent& event) {
    const HookAgent* agent = HookAgents::find(event.agent);
    if (agent == nullptr) {
        return false;
    }
    Turn turn{agent->profileID, event.session, event.pid, event.startTime,
              agent->announcesCancel ? AgentVerdictSource::hook
                                     : AgentVerdictSource::hookWithoutCancel};
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

std::map<std::string, AgentVerdictSource>
HookWitness::turnsStillUnderWay(const DetectionPass& pass) {
    std::set<Turn> turns;
    {
        const std::lock_guard lock(mutex_);
        turns = turns_;
    }
    if (turns.empty()) {
        return {};
    }
    // The catalog's profiles, switched off or not: a turn's sender is recognised whatever the
    // settings, which decide only whether it is shown.
    const AgentResolver catalog(AgentCatalog::builtin());
    std::map<std::pair<std::int32_t, std::uint64_t>, const ProcessSnapshot*> rows;
    for (const ProcessSnapshot& process : pass.processes()) {
        rows.emplace(std::pair{process.pid, process.startTime.value_or(0)}, &process);
    }
    // The profile each sender still runs as; a sender gone, or a process that is not that agent
    // (a pid reused, an event sent in another program's name), has no turn.
    const auto stillRuns = [&](const Turn& turn) {
        const auto& [profile, session, pid, startTime, source] = turn;
        auto row = rows.find({pid, startTime});
        if (row == rows.end()) {
            row = rows.find({pid, 0}); // a table without start times names processes by pid
        }
        if (row == rows.end()) {
            return false;
        }
        const AgentProfile* agent =
            catalog.findProgramForCommandPath(row->second->command, row->second->arguments);
        return agent != nullptr && agent->id == profile;
    };
    // The resolver is asked outside the lock, so an event never waits for a pass.
    std::map<std::string, AgentVerdictSource> working;
    std::vector<Turn> gone;
    for (const Turn& turn : turns) {
        if (stillRuns(turn)) {
            working.emplace(std::get<0>(turn), std::get<4>(turn));
        } else {
            gone.push_back(turn);
        }
    }
    // A sender that has gone takes its turns with it: an agent killed mid-turn sends no end.
    const std::lock_guard lock(mutex_);
    for (const Turn& turn : gone) {
        turns_.erase(turn);
    }
    return working;
}

void HookWitness::dropQuietTurnsWithoutCancel(std::map<std::string, AgentVerdictSource>& working,
                                              const DetectionPass& pass) {
    const auto& agents = pass.runningAgents();
    const Date now = pass.now();
    // A turn whose cancel sends no event ends, where no better witness speaks, once its agent
    // has been quiet for a while; work seen again brings it back.
    std::erase_if(working, [&](const auto& turn) {
        if (turn.second != AgentVerdictSource::hookWithoutCancel) {
            return false;
        }
        const auto agent = agents.find(turn.first);
        const bool busy =
            agent != agents.end() && agent->second.treeCPUPercent >= SignOfWork::cpuPercent;
        const auto seen = lastSignOfWork_.try_emplace(turn.first, now).first;
        if (busy || now < seen->second) {
            seen->second = now;
        }
        return now - seen->second > SignOfWork::quietLimit;
    });
}

std::vector<AgentVerdict> HookWitness::detectVerdicts(const DetectionPass& pass) {
    std::map<std::string, AgentVerdictSource> working = turnsStillUnderWay(pass);
    std::erase_if(lastSignOfWork_, [&](const auto& entry) {
        const auto turn = working.find(entry.first);
        return turn == working.end() || turn->second != AgentVerdictSource::hookWithoutCancel;
    });
    if (working.empty()) {
        return {};
    }
    dropQuietTurnsWithoutCancel(working, pass);
    std::vector<AgentVerdict> verdicts;
    for (const AgentProfile& profile : pass.resolver().profiles) {
        if (const auto turn = working.find(profile.id); turn != working.end()) {
            verdicts.push_back({profile.displayName, AgentWorkState::working, turn->second});
        }
    }
    return verdicts;
}

} // namespace nodwarden
