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
    const AgentVerdictSource source =
        agent->announcesCancel ? AgentVerdictSource::hook : AgentVerdictSource::hookWithoutCancel;
    const HookTurn what = HookAgents::turnOf(*agent, event.event, event.kind);
    const std::lock_guard lock(mutex_);
    // An event whose session could not be read (the agent was slow to hand it over) is of the
    // turns its sender has under way; on its own it would be a session of its own, and one
    // session at work would hide a question asked in the other.
    std::vector<Turn> turns;
    if (event.session.empty()) {
        for (const auto& [turn, phase] : turns_) {
            if (std::get<0>(turn) == agent->profileID && std::get<2>(turn) == event.pid &&
                std::get<3>(turn) == event.startTime) {
                turns.push_back(turn);
            }
        }
    }
    if (turns.empty()) {
        turns.emplace_back(agent->profileID, event.session, event.pid, event.startTime);
    }
    for (Turn& turn : turns) {
        take(std::move(turn), what, source, event.firedAt);
    }
    return true;
}

void HookWitness::take(Turn turn, HookTurn what, AgentVerdictSource source, std::uint64_t firedAt) {
    const auto kept = turns_.find(turn);
    const auto ended = ended_.find(turn);
    // An event fired before the last one taken for its turn arrived late: it says nothing new.
    if (firedAt != 0 && ((kept != turns_.end() && firedAt < kept->second.firedAt) ||
                         (ended != ended_.end() && firedAt < ended->second))) {
        return;
    }
    // A tool's call or a question is a turn under way even where its start was missed (the
    // program started mid-turn).
    const auto under = [&](bool waiting) {
        if (kept != turns_.end()) {
            kept->second.waiting = waiting;
            kept->second.firedAt = std::max(kept->second.firedAt, firedAt);
        } else if (turns_.size() < maxTurns) {
            if (ended != ended_.end()) {
                ended_.erase(ended);
            }
            turns_.emplace(std::move(turn), Phase{source, waiting, firedAt});
        }
    };
    switch (what) {
    case HookTurn::starts:
    case HookTurn::toolStarts:
    case HookTurn::toolEnds:
    case HookTurn::answered:
        under(false);
        break;
    case HookTurn::waits:
        under(true);
        break;
    case HookTurn::ends:
        if (kept != turns_.end()) {
            turns_.erase(kept);
        }
        if (firedAt != 0) {
            if (ended_.size() >= maxTurns) {
                ended_.clear();
            }
            ended_.insert_or_assign(std::move(turn), firedAt);
        }
        break;
    case HookTurn::other:
        break;
    }
}

HookWitness::Standing HookWitness::turnsStillUnderWay(const DetectionPass& pass) {
    std::map<Turn, Phase> turns;
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
        const auto& [profile, session, pid, startTime] = turn;
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
    Standing standing;
    std::vector<Turn> gone;
    for (const auto& [turn, phase] : turns) {
        if (!stillRuns(turn)) {
            gone.push_back(turn);
            continue;
        }
        const auto [kept, inserted] = standing.emplace(std::get<0>(turn), phase);
        if (!inserted && !phase.waiting) {
            kept->second.waiting = false; // one session at work makes the agent work
        }
    }
    // A sender that has gone takes its turns with it: an agent killed mid-turn sends no end.
    const std::lock_guard lock(mutex_);
    for (const Turn& turn : gone) {
        turns_.erase(turn);
    }
    return standing;
}

void HookWitness::dropQuietTurnsWithoutCancel(Standing& standing, const DetectionPass& pass) {
    const auto& agents = pass.runningAgents();
    const Date now = pass.now();
    // A turn whose cancel sends no event ends, where no better witness speaks, once its agent
    // has been quiet for a while; work seen again brings it back.
    std::erase_if(standing, [&](const auto& turn) {
        if (turn.second.source != AgentVerdictSource::hookWithoutCancel || turn.second.waiting) {
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
    Standing standing = turnsStillUnderWay(pass);
    std::erase_if(lastSignOfWork_, [&](const auto& entry) {
        const auto turn = standing.find(entry.first);
        return turn == standing.end() ||
               turn->second.source != AgentVerdictSource::hookWithoutCancel || turn->second.waiting;
    });
    if (standing.empty()) {
        return {};
    }
    dropQuietTurnsWithoutCancel(standing, pass);
    std::vector<AgentVerdict> verdicts;
    for (const AgentProfile& profile : pass.resolver().profiles) {
        if (const auto turn = standing.find(profile.id); turn != standing.end()) {
            verdicts.push_back(
                {profile.displayName,
                 turn->second.waiting ? AgentWorkState::waiting : AgentWorkState::working,
                 turn->second.source});
        }
    }
    return verdicts;
}

} // namespace nodwarden
