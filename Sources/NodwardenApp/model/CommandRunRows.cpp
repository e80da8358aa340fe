#include <NodwardenApp/model/CommandRunRows.hpp>

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace nodwarden::app {

namespace {

AgentStatusRow commandRow(const std::string& name) {
    AgentStatusRow row;
    row.name = name;
    row.detail =
        QCoreApplication::translate("AgentRows", "Kept awake by stayloom run").toStdString();
    row.state = "working";
    row.isWorking = true;
    row.decidedBy = "run";
    row.symbol = "terminal";
    row.fromCommand = true;
    return row;
}

} // namespace

CommandRunRows::CommandRunRows(std::function<bool(std::int32_t pid)> processExists, QObject* parent)
    : QObject(parent), processExists_(std::move(processExists)) {}

std::vector<std::string> CommandRunRows::names() const {
    std::vector<std::string> names;
    for (const auto& [pid, name] : runs_) {
        names.push_back(name);
    }
    return names;
}

void CommandRunRows::started(std::int32_t pid, const std::string& name) {
    if (pid <= 0 || (runs_.size() >= maxRuns && !runs_.contains(pid))) {
        return;
    }
    runs_[pid] = name.substr(0, maxNameBytes);
    emit changed();
}

void CommandRunRows::ended(std::int32_t pid) {
    if (runs_.erase(pid) != 0) {
        emit changed();
    }
}

std::vector<AgentStatusRow> CommandRunRows::withCommandRows(std::vector<AgentStatusRow> rows) {
    if (processExists_ &&
        std::erase_if(runs_, [this](const auto& run) { return !processExists_(run.first); }) > 0) {
        emit runsGone();
    }
    return rowsBefore(std::move(rows));
}

std::vector<AgentStatusRow> CommandRunRows::rowsBefore(std::vector<AgentStatusRow> rows) const {
    std::vector<AgentStatusRow> combined;
    for (const auto& [pid, name] : runs_) {
        combined.push_back(commandRow(name));
    }
    for (AgentStatusRow& row : rows) {
        if (!row.fromCommand) {
            combined.push_back(std::move(row));
        }
    }
    if (combined.size() > maxAgentRows) {
        combined.resize(maxAgentRows);
    }
    return combined;
}

} // namespace nodwarden::app
