#include <NodwardenApp/model/AppModel.hpp>

#include <algorithm>

namespace nodwarden::app {

namespace {

/// More runs at once than anyone types; a peer that sends more cannot grow the list.
constexpr std::size_t maxCommandRuns = 32;
/// Program names are short; a longer one is cut so a row stays one line.
constexpr std::size_t maxCommandNameBytes = 64;

AgentStatusRow commandRow(const std::string& name) {
    AgentStatusRow row;
    row.name = name;
    row.detail = "Kept awake by stayloom run";
    row.state = "working";
    row.isWorking = true;
    row.symbol = "terminal";
    row.fromCommand = true;
    return row;
}

} // namespace

void AppModel::trackStatusSince() {
    statusSince_ = now();
    connect(this, &AppModel::statusChanged, this, [this] { statusSince_ = now(); });
}

void AppModel::commandRunStarted(std::int32_t pid, const std::string& name) {
    if (pid <= 0 || (commandRuns_.size() >= maxCommandRuns && !commandRuns_.contains(pid))) {
        return;
    }
    commandRuns_[pid] = name.substr(0, maxCommandNameBytes);
    std::erase_if(agentRows_, [](const AgentStatusRow& row) { return row.fromCommand; });
    agentRows_ = withCommandRows(std::move(agentRows_));
    emit agentRowsChanged();
}

void AppModel::commandRunEnded(std::int32_t pid) {
    if (commandRuns_.erase(pid) == 0) {
        return;
    }
    std::erase_if(agentRows_, [](const AgentStatusRow& row) { return row.fromCommand; });
    agentRows_ = withCommandRows(std::move(agentRows_));
    emit agentRowsChanged();
}

std::vector<AgentStatusRow> AppModel::withCommandRows(std::vector<AgentStatusRow> rows) {
    if (environment_.processExists) {
        std::erase_if(commandRuns_,
                      [this](const auto& run) { return !environment_.processExists(run.first); });
    }
    std::vector<AgentStatusRow> combined;
    for (const auto& [pid, name] : commandRuns_) {
        combined.push_back(commandRow(name));
    }
    for (AgentStatusRow& row : rows) {
        combined.push_back(std::move(row));
    }
    if (combined.size() > maxAgentRows) {
        combined.resize(maxAgentRows);
    }
    return combined;
}

} // namespace nodwarden::app
