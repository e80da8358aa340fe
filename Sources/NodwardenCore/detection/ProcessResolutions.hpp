#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// What the resolver and the user's targets make of one process. Pointers are into the resolver
/// the resolution was made with.
struct ResolvedProcess {
    /// The watched agent the process is (`findProfileForCommandPath`: background helpers belong
    /// to none), or null.
    const AgentProfile* profile = nullptr;
    /// The agent whose program it runs, its background helpers included
    /// (`findProgramForCommandPath`), or null.
    const AgentProfile* program = nullptr;
    /// The first of the settings' `targetApps` it matches when no watched agent claims it.
    std::optional<std::size_t> target;
    /// Whether it answers one prompt and exits (`AgentResolver::isOneShotRun`).
    bool runsOneShot = false;
};

/// Resolves every row of `processes`, without memory.
std::vector<ResolvedProcess> resolveProcesses(const AgentResolver& resolver,
                                              const std::vector<std::string>& targets,
                                              const std::vector<ProcessSnapshot>& processes);

/// Remembers each process's resolution from pass to pass, so that a table of unchanged processes
/// costs a look-up a row instead of a walk through the catalog. A process is the same while its
/// pid, start time and command line are; everything is forgotten when the resolver or the
/// targets change, and a process is forgotten once a table no longer shows it. Not synchronised:
/// one pass at a time.
class ProcessResolutions {
public:
    /// One resolution per row of `processes`, in row order.
    std::vector<ResolvedProcess> resolve(const std::shared_ptr<const AgentResolver>& resolver,
                                         const std::vector<std::string>& targets,
                                         const std::vector<ProcessSnapshot>& processes);

    /// How many rows the last `resolve` had to resolve afresh.
    std::size_t lastResolvedCount() const { return lastResolved_; }

private:
    struct Entry {
        std::optional<std::uint64_t> startTime;
        std::uint64_t lineHash = 0;
        std::uint64_t seenIn = 0;
        ResolvedProcess resolved;
    };

    std::shared_ptr<const AgentResolver> resolver_;
    std::vector<std::string> targets_;
    std::unordered_map<std::int32_t, Entry> known_;
    std::uint64_t pass_ = 0;
    std::size_t lastResolved_ = 0;
};

} // namespace nodwarden
