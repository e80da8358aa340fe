#include <NodwardenLinux/TmuxScreenVerdicts.hpp>

#include <NodwardenCore/AgentResolver.hpp>
#include <NodwardenCore/Models.hpp>
#include <NodwardenLinux/ScreenAttribution.hpp>

#include <algorithm>
#include <iterator>
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

std::vector<AgentVerdict>
TmuxScreenVerdicts::detectVerdicts(const GuardSettings& settings,
                                   const std::vector<ProcessSnapshot>& table, Date now) {
    if (!settings.accessibilityDetectionEnabled) {
        return {};
    }
    // A row whose owner the table does not tell is nobody's we can vouch for.
    std::vector<ProcessSnapshot> processes;
    std::copy_if(table.begin(), table.end(), std::back_inserter(processes),
                 [&](const ProcessSnapshot& row) { return row.ownerUID == ownUID_; });
    if (std::none_of(processes.begin(), processes.end(), &isTmuxProcess)) {
        return {};
    }
    const AgentResolver resolver = AgentResolver::make(settings);
    ScreenAttribution attribution(processes, resolver);
    // A pane's first process is a child of its server.
    std::map<std::int32_t, const AgentProfile*> paneAgents;
    for (const std::int32_t paneRoot : attribution.childrenOfHosts(&isTmuxProcess)) {
        if (const AgentProfile* agent = attribution.soleAgentAtOrBelow(paneRoot)) {
            paneAgents.emplace(paneRoot, agent);
        }
    }
    if (paneAgents.empty()) {
        return {};
    }

    std::vector<ScreenReading> readings;
    for (const auto& socket : reader_.sockets()) {
        const auto retry = retryAt_.find(socket.string());
        if (retry != retryAt_.end() && now < retry->second) {
            continue;
        }
        bool failed = false;
        if (const auto panes = reader_.listPanes(socket)) {
            for (const TmuxPane& pane : *panes) {
                const auto agent = paneAgents.find(pane.pid);
                if (agent == paneAgents.end()) {
                    continue;
                }
                if (const auto text = reader_.capturePane(socket, pane.id)) {
                    readings.push_back(
                        {agent->second, pane.pid,
                         ScreenAttribution::showsWorkingPhrase(*agent->second, *text)});
                } else {
                    failed = true;
                }
            }
        } else {
            failed = true;
        }
        if (failed) {
            retryAt_[socket.string()] = now + failedServerBackOff;
        } else if (retry != retryAt_.end()) {
            retryAt_.erase(retry);
        }
    }
    return attribution.verdicts(readings);
}

} // namespace nodwarden::linuxplatform
