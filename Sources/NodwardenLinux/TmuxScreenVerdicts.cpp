#include <NodwardenLinux/TmuxScreenVerdicts.hpp>

#include <NodwardenCore/detection/DetectionPass.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenLinux/ScreenAttribution.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <optional>
#include <utility>

namespace nodwarden::linuxplatform {

TmuxScreenVerdicts::TmuxScreenVerdicts(TmuxPaneReader reader, std::uint32_t ownUID)
    : reader_(std::move(reader)), ownUID_(ownUID) {}

bool TmuxScreenVerdicts::isTmuxProcess(const ProcessSnapshot& process) {
    // The server keeps the argument vector of the command that started it; where that cannot be
    // read the table falls back to its thread name, "tmux: server".
    const std::string name = process.displayName();
    return name == "tmux" || name.starts_with("tmux: ");
}

std::vector<AgentVerdict> TmuxScreenVerdicts::detectVerdicts(const DetectionPass& pass) {
    if (!pass.settings().accessibilityDetectionEnabled) {
        return {};
    }
    // A row whose owner the table does not tell is nobody's we can vouch for.
    std::vector<ProcessSnapshot> processes;
    const std::vector<ProcessSnapshot>& table = pass.processes();
    const Date now = pass.now();
    std::copy_if(table.begin(), table.end(), std::back_inserter(processes),
                 [&](const ProcessSnapshot& row) { return row.ownerUID == ownUID_; });
    if (std::none_of(processes.begin(), processes.end(), &isTmuxProcess)) {
        return {};
    }
    ScreenAttribution attribution(processes, pass.resolver());
    std::map<std::int32_t, std::uint64_t> startTimes;
    for (const ProcessSnapshot& row : processes) {
        startTimes.emplace(row.pid, row.startTime.value_or(0));
    }
    // A pane's first process is a child of its server.
    std::map<PaneRoot, const AgentProfile*> paneAgents;
    std::set<PaneRoot> roots;
    for (const std::int32_t paneRoot : attribution.childrenOfHosts(&isTmuxProcess)) {
        const PaneRoot root{paneRoot, startTimes[paneRoot]};
        roots.insert(root);
        if (const AgentProfile* agent = attribution.soleAgentAtOrBelow(paneRoot)) {
            paneAgents.emplace(root, agent);
        }
    }
    // Panes that are gone are forgotten.
    std::erase_if(listed_, [&](const auto& entry) { return !roots.contains(entry.first); });
    std::erase_if(unlisted_, [&](const PaneRoot& root) { return !paneAgents.contains(root); });
    std::erase_if(readings_, [&](const auto& entry) { return !paneAgents.contains(entry.first); });
    if (paneAgents.empty()) {
        return {};
    }

    // The socket folder and each socket are checked again before any command.
    std::optional<std::vector<std::filesystem::path>> sockets;
    const auto ourSockets = [&]() -> const std::vector<std::filesystem::path>& {
        if (!sockets) {
            sockets = reader_.sockets();
        }
        return *sockets;
    };
    const bool unseenPane = std::any_of(paneAgents.begin(), paneAgents.end(), [&](const auto& p) {
        return !listed_.contains(p.first) && !unlisted_.contains(p.first);
    });
    if (unseenPane && listServers(ourSockets(), startTimes, now)) {
        for (const auto& [root, agent] : paneAgents) {
            if (!listed_.contains(root)) {
                unlisted_.insert(root);
            }
        }
    }

    // Terminals keep the system clock's time, whatever clock `now` comes from; taken before any
    // read, so a write during one lands in this step or a later one.
    const double wallNow =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::vector<ScreenReading> readings;
    for (const auto& [root, agent] : paneAgents) {
        const auto listed = listed_.find(root);
        if (listed == listed_.end()) {
            continue;
        }
        const std::filesystem::path& socket = listed->second.socket;
        if (!needsReading(root, listed->second, agent->displayName, wallNow)) {
            const PaneReading& last = readings_.at(root);
            readings.push_back({agent, root.first, last.working, last.waiting});
            continue;
        }
        readings_.erase(root);
        const auto& current = ourSockets();
        if (isBackingOff(socket, now) ||
            std::find(current.begin(), current.end(), socket) == current.end()) {
            continue;
        }
        const auto text = reader_.capturePane(socket, listed->second.pane.id);
        noteOutcome(socket, !text, now);
        if (text) {
            const bool working = ScreenAttribution::showsWorkingPhrase(*agent, *text);
            const bool waiting = ScreenAttribution::showsQuestion(*agent, *text);
            readings_[root] = PaneReading{agent->displayName, working, waiting, wallNow};
            readings.push_back({agent, root.first, working, waiting});
        }
    }
    return attribution.verdicts(readings);
}

bool TmuxScreenVerdicts::needsReading(const PaneRoot& root, const ListedPane& listed,
                                      const std::string& agent, double wallNow) const {
    const auto last = readings_.find(root);
    if (last == readings_.end() || last->second.agent != agent || wallNow < last->second.readAt) {
        return true; // never read, another agent, or a clock set back
    }
    const auto written = TmuxPaneReader::lastWrite(listed.pane);
    const auto readSecond = static_cast<std::int64_t>(std::floor(last->second.readAt));
    return !written || *written >= TmuxPaneReader::writeStep(readSecond);
}

bool TmuxScreenVerdicts::isBackingOff(const std::filesystem::path& socket, Date now) const {
    const auto retry = retryAt_.find(socket.string());
    return retry != retryAt_.end() && now < retry->second;
}

void TmuxScreenVerdicts::noteOutcome(const std::filesystem::path& socket, bool failed, Date now) {
    if (failed) {
        retryAt_[socket.string()] = now + failedServerBackOff;
    } else {
        retryAt_.erase(socket.string());
    }
}

bool TmuxScreenVerdicts::listServers(const std::vector<std::filesystem::path>& sockets,
                                     const std::map<std::int32_t, std::uint64_t>& startTimes,
                                     Date now) {
    bool everyServerAnswered = true;
    for (const auto& socket : sockets) {
        if (isBackingOff(socket, now)) {
            everyServerAnswered = false;
            continue;
        }
        const auto panes = reader_.listPanes(socket);
        noteOutcome(socket, !panes, now);
        if (!panes) {
            everyServerAnswered = false;
            continue;
        }
        for (const TmuxPane& pane : *panes) {
            if (const auto start = startTimes.find(pane.pid); start != startTimes.end()) {
                listed_[{pane.pid, start->second}] = ListedPane{socket, pane};
            }
        }
    }
    return everyServerAnswered;
}

} // namespace nodwarden::linuxplatform
