#pragma once

#include <NodwardenApp/model/AgentRows.hpp>
#include <NodwardenCore/model/GuardStatus.hpp>

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden::app {

/// The commands `stayloom run` keeps awake, each shown as a working row of its own before the
/// agents' until it ends. Only a command's program name is kept, never its arguments.
class CommandRunRows : public QObject {
    Q_OBJECT

public:
    /// More runs at once than anyone types; a peer that sends more cannot grow the list.
    static constexpr std::size_t maxRuns = 32;
    /// Program names are short; a longer one is cut so a row stays one line.
    static constexpr std::size_t maxNameBytes = 64;

    /// `processExists` says whether a run's process still exists (none: a row stays until its
    /// end is told).
    explicit CommandRunRows(std::function<bool(std::int32_t pid)> processExists,
                            QObject* parent = nullptr);

    /// Whether no run is held.
    bool empty() const { return runs_.empty(); }
    /// The programs' names, in the order of their process ids.
    std::vector<std::string> names() const;

    void started(std::int32_t pid, const std::string& name);
    void ended(std::int32_t pid);

    /// A run holds the machine whatever the agents do, and the headline says so: the status shown
    /// for `decided` while runs are held.
    GuardStatus shownStatus(GuardStatus decided) const;
    /// "Kept awake for `make` (stayloom run)"; none without a run or when `decided` holds anyway.
    std::optional<QString> reason(GuardStatus decided) const;

    /// `rows` without command rows, behind a row for each run whose process still exists, at
    /// most `maxAgentRows`. A run killed outright never says it ended: its row goes here.
    std::vector<AgentStatusRow> withCommandRows(std::vector<AgentStatusRow> rows);
    /// The same without looking for runs that have ended.
    std::vector<AgentStatusRow> rowsBefore(std::vector<AgentStatusRow> rows) const;

signals:
    /// A run started or ended: the rows are to be worked out again.
    void changed();
    /// Runs whose process was gone were dropped while the rows were worked out.
    void runsGone();

private:
    std::function<bool(std::int32_t pid)> processExists_;
    std::map<std::int32_t, std::string> runs_;
};

} // namespace nodwarden::app
