#include <NodwardenApp/model/CommandRunRows.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>

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

/// A program's name as the headline shows it: one line, and no backquote to end the quoting.
std::string shownProgramName(const std::string& name) {
    std::string shown;
    for (const char character : name) {
        const auto byte = static_cast<unsigned char>(character);
        shown += byte < 0x20 || byte == 0x7F ? '?' : character == '`' ? '\'' : character;
    }
    return shown;
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

GuardStatus CommandRunRows::shownStatus(GuardStatus decided) const {
    if (empty() || decided == GuardStatus::keepingAwake ||
        decided == GuardStatus::pluggedInUnlimited) {
        return decided;
    }
    return GuardStatus::keepingAwake;
}

std::optional<QString> CommandRunRows::reason(GuardStatus decided) const {
    if (shownStatus(decided) == decided) {
        return std::nullopt;
    }
    std::string names;
    for (const std::string& name : this->names()) {
        names += (names.empty() ? "`" : ", `") + shownProgramName(name) + "`";
    }
    return tr("Kept awake for %1 (stayloom run)").arg(detail::qstring(names));
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
