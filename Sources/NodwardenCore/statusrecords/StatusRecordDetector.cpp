#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>

#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/statusrecords/AgentMountViews.hpp>

#include <set>
#include <utility>

namespace nodwarden {
namespace {

/// `agent` with only `processes`: its sessions and start worked out again over them.
RunningAgent restrictedTo(const RunningAgent& agent, std::vector<ProcessSnapshot> processes) {
    RunningAgent part = agent;
    std::set<std::int32_t> pids;
    for (const ProcessSnapshot& process : processes) {
        pids.insert(process.pid);
    }
    part.sessions = 0;
    part.startedAt = std::nullopt;
    bool everyStartKnown = true;
    for (const ProcessSnapshot& process : processes) {
        if (!pids.contains(process.parentPID)) {
            ++part.sessions;
        }
        if (!process.startedAt) {
            everyStartKnown = false;
        } else if (!part.startedAt || *process.startedAt < *part.startedAt) {
            part.startedAt = process.startedAt;
        }
    }
    if (!everyStartKnown) {
        part.startedAt = std::nullopt;
    }
    part.processes = std::move(processes);
    return part;
}

int rank(AgentWorkState state) {
    return state == AgentWorkState::working ? 2 : state == AgentWorkState::waiting ? 1 : 0;
}

} // namespace

/// An agent's processes by where their files are: here, in a home under another mount
/// namespace, or out of reach.
struct StatusRecordDetector::Split {
    std::optional<RunningAgent> here;
    std::map<std::filesystem::path, RunningAgent> foreign;
    bool outOfReach = false;
};

StatusRecordDetector::StatusRecordDetector(std::vector<std::unique_ptr<AgentStatusReading>> readers,
                                           ReaderFactory readersForHome,
                                           std::shared_ptr<AgentMountViews> views)
    : readers_(std::move(readers)), readersForHome_(std::move(readersForHome)),
      views_(std::move(views)) {}

StatusRecordDetector::~StatusRecordDetector() = default;

StatusRecordDetector::Split StatusRecordDetector::split(const RunningAgent& agent) {
    Split split;
    if (!views_ || !readersForHome_) {
        split.here = agent;
        return split;
    }
    std::vector<ProcessSnapshot> here;
    std::map<std::filesystem::path, std::vector<ProcessSnapshot>> foreign;
    for (const ProcessSnapshot& process : agent.processes) {
        const auto view = views_->viewOf(process);
        if (!view) {
            here.push_back(process);
        } else if (!view->home) {
            split.outOfReach = true;
        } else {
            ProcessSnapshot inside = process;
            inside.pid = view->innerPID; // the pid its own records name
            foreign[*view->home].push_back(std::move(inside));
        }
    }
    if (foreign.empty() && !split.outOfReach) {
        split.here = agent;
        return split;
    }
    if (!here.empty()) {
        split.here = restrictedTo(agent, std::move(here));
    }
    for (auto& [home, processes] : foreign) {
        split.foreign.emplace(home, restrictedTo(agent, std::move(processes)));
    }
    return split;
}

std::vector<std::unique_ptr<AgentStatusReading>>&
StatusRecordDetector::readersFor(const std::filesystem::path& home) {
    auto found = foreignReaders_.find(home);
    if (found == foreignReaders_.end()) {
        if (foreignReaders_.size() >= maxForeignHomes) {
            foreignReaders_.clear();
        }
        found = foreignReaders_.emplace(home, readersForHome_(home)).first;
    }
    return found->second;
}

std::vector<AgentVerdict> StatusRecordDetector::detectVerdicts(const DetectionPass& pass) {
    std::vector<AgentVerdict> verdicts;
    outOfReach_.clear();
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
    std::map<std::string, Split> splits;
    std::set<std::filesystem::path> homesInUse;
    for (const auto& [id, agent] : agents) {
        if (!agent.runsOneShot) {
            Split& split = splits.emplace(id, this->split(agent)).first->second;
            for (const auto& [home, part] : split.foreign) {
                homesInUse.insert(home);
            }
        }
    }
    std::erase_if(spokeForRun_, [&](const auto& entry) { return !agents.contains(entry.first); });
    // Readers of homes whose processes are gone go with them.
    std::erase_if(foreignReaders_,
                  [&](const auto& entry) { return !homesInUse.contains(entry.first); });
    for (std::size_t index = 0; index < readers_.size(); ++index) {
        AgentStatusReading& reader = *readers_[index];
        const auto found = splits.find(std::string(reader.profileID()));
        if (found == splits.end()) {
            continue; // nothing is read for an agent that does not run or whose run decided
        }
        const RunningAgent& agent = agents.at(found->first);
        const Split& split = found->second;
        const std::string& name = agent.profile->displayName;
        std::optional<AgentWorkState> state;
        const auto add = [&](std::optional<AgentWorkState> read) {
            if (read && (!state || rank(*read) > rank(*state))) {
                state = read;
            }
        };
        if (split.here) {
            add(reader.read(*split.here, now));
        }
        for (const auto& [home, part] : split.foreign) {
            auto& theirs = readersFor(home);
            if (index < theirs.size() && theirs[index]->profileID() == reader.profileID()) {
                add(theirs[index]->read(part, now));
            }
        }
        const auto spoke = spokeForRun_.find(found->first);
        const bool hadATurn =
            spoke != spokeForRun_.end() && agent.startedAt && spoke->second == *agent.startedAt;
        if (state) {
            verdicts.push_back({name, *state, reader.source()});
            if (agent.startedAt && *state != AgentWorkState::idle) {
                spokeForRun_.insert_or_assign(found->first, *agent.startedAt);
            }
        } else if (split.outOfReach && !split.here && split.foreign.empty()) {
            outOfReach_.push_back(name);
        } else if (agent.startedAt && now - *agent.startedAt < startUpWindow && !hadATurn &&
                   reader.recordsEveryTurn()) {
            verdicts.push_back({name, AgentWorkState::idle, AgentVerdictSource::startUp});
        }
    }
    return verdicts;
}

} // namespace nodwarden
