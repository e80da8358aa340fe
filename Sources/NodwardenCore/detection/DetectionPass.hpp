#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/ProcessResolutions.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>
#include <NodwardenCore/detection/ProcessTree.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

struct GuardSettings;

/// One watched agent as this pass's process table shows it.
struct RunningAgent {
    /// The watched profile; valid while the resolver that found it lives.
    const AgentProfile* profile = nullptr;
    /// The agent's own processes, background helpers left out.
    std::vector<ProcessSnapshot> processes;
    /// Processes with no agent process above them: the number of independent sessions.
    int sessions = 0;
    /// When the first of its processes started; none when the table gives no start times.
    std::optional<Date> startedAt;
    /// The CPU share of its processes and everything they started, each process counted once.
    double treeCPUPercent = 0;
    /// Whether one of its processes is a run that answers one prompt and exits.
    bool runsOneShot = false;

    /// Whether a record written or refreshed at `written` can speak for this run of the agent:
    /// not older than its processes (one second of slack for the clocks' resolutions).
    bool mayHaveWritten(std::optional<Date> written) const;
};

/// The watched agents that run in `processes`, by profile id.
std::map<std::string, RunningAgent> runningAgents(const AgentResolver& resolver,
                                                  const std::vector<ProcessSnapshot>& processes);

/// What the witnesses of one detection pass share, worked out once for all of them: the watched
/// agents under the settings, what each row of the pass's process table resolves to, the table's
/// parent and child links, and which agents run. Lives for one pass on one thread; `settings` and
/// `processes` must outlive it.
class DetectionPass {
public:
    /// Resolves every row afresh.
    DetectionPass(const GuardSettings& settings, const std::vector<ProcessSnapshot>& processes,
                  Date now);
    /// Resolves only the rows `memory` has not seen (a detector keeps it from pass to pass).
    DetectionPass(const GuardSettings& settings, const std::vector<ProcessSnapshot>& processes,
                  Date now, ProcessResolutions& memory);

    const GuardSettings& settings() const { return settings_; }
    const std::vector<ProcessSnapshot>& processes() const { return processes_; }
    Date now() const { return now_; }
    /// The agents watched under `settings`.
    const AgentResolver& resolver() const { return *resolver_; }
    /// What each row of `processes()` is, in row order.
    const std::vector<ResolvedProcess>& resolved() const { return resolved_; }
    /// The parent and child links of `processes()`, worked out at the first question.
    const ProcessTree& tree() const;
    /// The watched agents that run in `processes()`, by profile id, worked out at the first
    /// question.
    const std::map<std::string, RunningAgent>& runningAgents() const;

private:
    const GuardSettings& settings_;
    const std::vector<ProcessSnapshot>& processes_;
    Date now_;
    std::shared_ptr<const AgentResolver> resolver_;
    std::vector<ResolvedProcess> resolved_;
    mutable std::optional<ProcessTree> tree_;
    mutable std::optional<std::map<std::string, RunningAgent>> agents_;
};

} // namespace nodwarden
