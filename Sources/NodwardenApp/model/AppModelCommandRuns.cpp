#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>

#include <algorithm>

namespace nodwarden::app {

using detail::assignIfChanged;

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

GuardStatus AppModel::shownStatus(GuardStatus decided) const {
    if (commandRuns_.empty() || decided == GuardStatus::keepingAwake ||
        decided == GuardStatus::pluggedInUnlimited) {
        return decided;
    }
    return GuardStatus::keepingAwake;
}

std::optional<QString> AppModel::commandRunReason(GuardStatus decided) const {
    if (shownStatus(decided) == decided) {
        return std::nullopt;
    }
    std::string names;
    for (const auto& [pid, name] : commandRuns_) {
        names += (names.empty() ? "`" : ", `") + shownProgramName(name) + "`";
    }
    return detail::qstring("Kept awake for " + names + " (stayloom run)");
}

void AppModel::republishForCommandRuns() {
    emit sleepPreventionEnabledChanged();
    // The rows and the headline are worked out again from the last inputs.
    publishedFrom_.reset();
    if (lastInputs_ && !needsLegalAcceptance_) {
        evaluateAndApply(lastInputs_->power, lastInputs_->lid, lastInputs_->perApp, false);
    }
}

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
    republishForCommandRuns();
}

void AppModel::commandRunEnded(std::int32_t pid) {
    if (commandRuns_.erase(pid) == 0) {
        return;
    }
    std::erase_if(agentRows_, [](const AgentStatusRow& row) { return row.fromCommand; });
    agentRows_ = withCommandRows(std::move(agentRows_));
    emit agentRowsChanged();
    republishForCommandRuns();
}

std::vector<AgentStatusRow> AppModel::withCommandRows(std::vector<AgentStatusRow> rows) {
    if (environment_.processExists && std::erase_if(commandRuns_, [this](const auto& run) {
                                          return !environment_.processExists(run.first);
                                      }) > 0) {
        emit sleepPreventionEnabledChanged();
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

void AppModel::refreshKeepAwakeLocks() {
    KeepAwakeLocks locks;
    if (environment_.keepAwakeLocks && isKeptAwake()) {
        locks = environment_.keepAwakeLocks();
    }
    assignIfChanged(keepAwakeLocks_, std::move(locks), [this] { emit keepAwakeLocksChanged(); });
}

std::optional<QString> AppModel::lockWarning() const {
    if (keepAwakeLocks_.warning.empty()) {
        return std::nullopt;
    }
    return detail::qstring(keepAwakeLocks_.warning);
}

} // namespace nodwarden::app
